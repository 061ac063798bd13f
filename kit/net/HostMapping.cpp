#include "kit/net/HostMapping.h"

#include <charconv>
#include <cstdlib>

namespace kit {

namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

std::optional<int> port(std::string_view s)
{
    int value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || value < 1 || value > 65535)
        return std::nullopt;
    return value;
}

// Splits at ':' outside square brackets, so IPv6 literals ("[::1]") work.
std::vector<std::string_view> fields(std::string_view entry)
{
    std::vector<std::string_view> out;
    size_t start = 0;
    int depth = 0;
    for (size_t i = 0; i < entry.size(); ++i) {
        char c = entry[i];
        if (c == '[')
            ++depth;
        else if (c == ']' && depth > 0)
            --depth;
        else if (c == ':' && depth == 0) {
            out.push_back(entry.substr(start, i - start));
            start = i + 1;
        }
    }
    out.push_back(entry.substr(start));
    return out;
}

} // namespace

std::string HostMapping::connectToEntry() const
{
    return host + ":" + std::to_string(port) + ":" + connectHost + ":" + std::to_string(connectPort);
}

std::vector<HostMapping> parseHostMappings(std::string_view text)
{
    std::vector<HostMapping> out;
    while (!text.empty()) {
        auto semi = text.find(';');
        auto entry = trim(text.substr(0, semi));
        text = semi == std::string_view::npos ? std::string_view() : text.substr(semi + 1);
        if (entry.empty())
            continue;
        auto f = fields(entry);
        if (f.size() != 4 || f[0].empty() || f[2].empty())
            continue;
        auto p = port(f[1]);
        auto cp = port(f[3]);
        if (!p || !cp)
            continue;
        out.push_back({ std::string(f[0]), *p, std::string(f[2]), *cp });
    }
    return out;
}

std::vector<HostMapping> hostMappings()
{
    const char* value = std::getenv(hostMappingVariable);
    return value ? parseHostMappings(value) : std::vector<HostMapping> {};
}

} // namespace kit
