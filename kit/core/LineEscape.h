#pragma once
// Backslash escapes for a value kept on one line among tab-separated fields:
// backslash, tab, line feed and carriage return become \\ \t \n \r. Shared
// by the stored settings and the transfer service's messages.
#include <optional>
#include <string>
#include <string_view>

namespace kit {

std::string escapeLine(std::string_view value);
// None for a stray backslash or an unknown escape.
std::optional<std::string> unescapeLine(std::string_view text);

} // namespace kit
