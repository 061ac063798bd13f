#pragma once
// Path text operations on '/'-separated paths, as the application uses them. They
// work on the text alone and never touch the file system.
//
// - pathExtension: the text after the last "." of the last component, "" when
//   that component has no "." (a leading "." counts: ".profile" has the
//   extension "profile"). Trailing slashes are ignored.
// - stringByDeletingLastPathComponent: the path without its last component;
//   "/" stays "/", "/a" gives "/", a bare name gives "". Repeated slashes
//   before the removed component go with it ("//bin" gives "/").
// - stringByAppendingPathComponent: the path, one "/", then the component
//   (which may itself hold slashes); trailing slashes of the result are dropped.
#include <string>
#include <string_view>

namespace kit {

std::string pathExtension(std::string_view path);
std::string lastPathComponent(std::string_view path);
std::string stringByDeletingLastPathComponent(std::string_view path);
std::string stringByAppendingPathComponent(std::string_view path, std::string_view component);

} // namespace kit
