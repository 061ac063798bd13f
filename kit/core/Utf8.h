#pragma once
// Appends one code point to UTF-8 text. Surrogates and values past U+10FFFF
// are no characters and become U+FFFD, so the text stays valid UTF-8.
// Header-only: the JSON reader, which links no kit library, uses it too.
#include <string>

namespace kit {

inline void appendUtf8(std::string& out, char32_t c)
{
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        c = 0xFFFD;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

} // namespace kit
