#include "kit/core/PathString.h"

namespace kit {

namespace {
// The path without trailing slashes; "/" (or "//") stays "/".
std::string_view trimTrailingSlashes(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}
} // namespace

std::string lastPathComponent(std::string_view path)
{
    path = trimTrailingSlashes(path);
    if (path == "/")
        return "/";
    auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string pathExtension(std::string_view path)
{
    auto name = lastPathComponent(path);
    auto dot = name.rfind('.');
    if (dot == std::string::npos)
        return {};
    return name.substr(dot + 1);
}

std::string stringByDeletingLastPathComponent(std::string_view path)
{
    path = trimTrailingSlashes(path);
    if (path.empty() || path == "/")
        return std::string(path);
    auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    auto head = path.substr(0, slash);
    while (!head.empty() && head.back() == '/')
        head.remove_suffix(1);
    if (head.empty())
        return "/";
    return std::string(head);
}

std::string stringByAppendingPathComponent(std::string_view path, std::string_view component)
{
    while (!component.empty() && component.front() == '/')
        component.remove_prefix(1);
    std::string out(trimTrailingSlashes(path));
    if (!out.empty() && out != "/")
        out += '/';
    out += component;
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

} // namespace kit
