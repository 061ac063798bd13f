#pragma once
// ASCII-only text checks, for schemes and keywords (never for a person's words).
#include <cctype>
#include <string_view>

namespace kit {

// Whether text begins with prefix, ignoring ASCII case; prefix is written in lower case.
inline bool startsWithNoCase(std::string_view text, std::string_view lowerPrefix)
{
    if (text.size() < lowerPrefix.size())
        return false;
    for (size_t i = 0; i < lowerPrefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != lowerPrefix[i])
            return false;
    return true;
}

// text without the white space at either end (the view is into text).
inline std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

} // namespace kit
