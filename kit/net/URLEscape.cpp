#include "kit/net/URLEscape.h"

namespace kit {

namespace {
bool isAlnum(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isMark(unsigned char c)
{
    return std::string_view("-_.!~*'()").find(char(c)) != std::string_view::npos;
}

bool isPunctuation(unsigned char c)
{
    return std::string_view(";/?:@&=+$,#").find(char(c)) != std::string_view::npos;
}

template<typename Keep>
std::string escape(std::string_view text, Keep keep)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (keep(c)) {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

std::string percentEscape(std::string_view text, std::string_view keep)
{
    return escape(text, [keep](unsigned char c) { return isAlnum(c) || (c != 0 && keep.find(char(c)) != std::string_view::npos); });
}

std::string stringByAddingPercentEscapes(std::string_view text)
{
    return escape(text, [](unsigned char c) { return isAlnum(c) || isMark(c) || isPunctuation(c); });
}

std::string escapeQueryValue(std::string_view text)
{
    return escape(text, [](unsigned char c) { return isAlnum(c) || isMark(c) || (isPunctuation(c) && c != '&' && c != '#' && c != '+'); });
}

std::string fileURLWithPath(std::string_view path)
{
    // Only what a path segment may hold stays as it is.
    auto escaped = escape(path, [](unsigned char c) {
        return isAlnum(c) || isMark(c) || std::string_view("/:@&=+$,").find(char(c)) != std::string_view::npos;
    });
    if (escaped.empty() || escaped[0] != '/')
        escaped = "/" + escaped;
    return "file://" + escaped;
}

std::optional<std::string> fileURLPath(std::string_view url)
{
    constexpr std::string_view scheme = "file://";
    if (url.substr(0, scheme.size()) != scheme)
        return std::nullopt;
    auto rest = url.substr(scheme.size());
    // An authority before the path: only the local host is ours.
    if (rest.empty() || rest[0] != '/') {
        auto slash = rest.find('/');
        if (slash == std::string_view::npos || rest.substr(0, slash) != "localhost")
            return std::nullopt;
        rest.remove_prefix(slash);
    }
    return percentDecode(rest);
}

std::string percentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace kit
