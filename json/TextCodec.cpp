#include "json/TextCodec.h"

#include "kit/core/Utf8.h"

#include <cstring>

namespace json {

namespace {

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

} // namespace

bool TextCodec::appendUTF8(const std::uint8_t* p, std::size_t length, Text& out)
{
    const std::size_t oldSize = out.size();
    // Worst case one code unit per byte; shrink to what was written at the end.
    out.resize(oldSize + length);
    char16_t* w = out.data() + oldSize;
    const std::uint8_t* end = p + length;
    while (p < end) {
        // Most answers are ASCII: copy eight bytes at a time while they are.
        while (end - p >= 8) {
            std::uint64_t chunk;
            std::memcpy(&chunk, p, 8);
            if (chunk & 0x8080808080808080ull)
                break;
            for (int i = 0; i < 8; ++i)
                w[i] = p[i];
            w += 8;
            p += 8;
        }
        if (p >= end)
            break;
        std::uint8_t b0 = *p;
        if (b0 < 0x80) {
            *w++ = b0;
            ++p;
            continue;
        }
        auto cont = [&](std::size_t i, std::uint8_t lo = 0x80, std::uint8_t hi = 0xBF) {
            return p + i < end && p[i] >= lo && p[i] <= hi;
        };
        char32_t c;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            if (!cont(1))
                goto invalid;
            c = char32_t(b0 & 0x1F) << 6 | (p[1] & 0x3F);
            p += 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            std::uint8_t lo = b0 == 0xE0 ? 0xA0 : 0x80;
            std::uint8_t hi = b0 == 0xED ? 0x9F : 0xBF;
            if (!cont(1, lo, hi) || !cont(2))
                goto invalid;
            c = char32_t(b0 & 0x0F) << 12 | char32_t(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
            p += 3;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            std::uint8_t lo = b0 == 0xF0 ? 0x90 : 0x80;
            std::uint8_t hi = b0 == 0xF4 ? 0x8F : 0xBF;
            if (!cont(1, lo, hi) || !cont(2) || !cont(3))
                goto invalid;
            c = char32_t(b0 & 0x07) << 18 | char32_t(p[1] & 0x3F) << 12 | char32_t(p[2] & 0x3F) << 6 | (p[3] & 0x3F);
            p += 4;
        } else {
            goto invalid;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            *w++ = char16_t(0xD800 + (c >> 10));
            *w++ = char16_t(0xDC00 + (c & 0x3FF));
        } else {
            *w++ = char16_t(c);
        }
    }
    out.resize(std::size_t(w - out.data()));
    return true;

invalid:
    out.resize(oldSize);
    return false;
}

std::optional<Text> TextCodec::fromUTF8(const std::uint8_t* bytes, std::size_t length)
{
    Text text;
    if (!appendUTF8(bytes, length, text))
        return std::nullopt;
    return text;
}

std::optional<Text> TextCodec::fromUTF8(std::string_view utf8)
{
    return fromUTF8(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size());
}

void TextCodec::appendUTF8(const Text& text, std::string& out)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        kit::appendUtf8(out, c); // a lone surrogate becomes U+FFFD
    }
}

std::string TextCodec::toUTF8(const Text& text)
{
    std::string out;
    out.reserve(text.size());
    appendUTF8(text, out);
    return out;
}

TextCodec::Encoding TextCodec::detectEncoding(const std::uint8_t* b, std::size_t length)
{
    if (length < 4)
        return Encoding::UTF8;
    if (b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] != 0)
        return Encoding::UTF32BigEndian;
    if (b[0] == 0 && b[1] != 0 && b[2] == 0 && b[3] != 0)
        return Encoding::UTF16BigEndian;
    if (b[0] != 0 && b[1] == 0 && b[2] == 0 && b[3] == 0)
        return Encoding::UTF32LittleEndian;
    if (b[0] != 0 && b[1] == 0 && b[2] != 0 && b[3] == 0)
        return Encoding::UTF16LittleEndian;
    return Encoding::UTF8;
}

std::optional<Bytes> TextCodec::reencodeToUTF8(const std::uint8_t* b, std::size_t length, Encoding encoding)
{
    std::string out;
    switch (encoding) {
    case Encoding::UTF8: {
        if (!fromUTF8(b, length))
            return std::nullopt;
        return Bytes(b, b + length);
    }
    case Encoding::UTF16BigEndian:
    case Encoding::UTF16LittleEndian: {
        if (length % 2)
            return std::nullopt;
        const bool big = encoding == Encoding::UTF16BigEndian;
        auto unit = [&](std::size_t i) -> char32_t {
            return big ? char32_t(b[i]) << 8 | b[i + 1] : char32_t(b[i + 1]) << 8 | b[i];
        };
        out.reserve(length / 2);
        for (std::size_t i = 0; i < length; i += 2) {
            char32_t c = unit(i);
            if (c >= 0xD800 && c <= 0xDBFF) {
                if (i + 2 >= length)
                    return std::nullopt;
                char32_t low = unit(i + 2);
                if (low < 0xDC00 || low > 0xDFFF)
                    return std::nullopt;
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            } else if (isSurrogate(c)) {
                return std::nullopt;
            }
            kit::appendUtf8(out, c);
        }
        break;
    }
    case Encoding::UTF32BigEndian:
    case Encoding::UTF32LittleEndian: {
        if (length % 4)
            return std::nullopt;
        const bool big = encoding == Encoding::UTF32BigEndian;
        out.reserve(length / 4);
        for (std::size_t i = 0; i < length; i += 4) {
            char32_t c = big ? char32_t(b[i]) << 24 | char32_t(b[i + 1]) << 16 | char32_t(b[i + 2]) << 8 | b[i + 3]
                             : char32_t(b[i + 3]) << 24 | char32_t(b[i + 2]) << 16 | char32_t(b[i + 1]) << 8 | b[i];
            if (c > 0x10FFFF || isSurrogate(c))
                return std::nullopt;
            kit::appendUtf8(out, c);
        }
        break;
    }
    }
    return Bytes(out.begin(), out.end());
}

} // namespace json
