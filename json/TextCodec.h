#pragma once
// Conversions between bytes and texts: strict UTF-8 decoding (overlong forms,
// encoded surrogates and code points past U+10FFFF are refused), UTF-8
// encoding of 16-bit texts, and the re-encoding of UTF-16 and UTF-32 input.

#include "json/Forward.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace json {

class TextCodec {
public:
    enum class Encoding { UTF8, UTF16BigEndian, UTF16LittleEndian, UTF32BigEndian, UTF32LittleEndian };

    // Appends the decoded bytes to out. On invalid UTF-8 answers false and
    // leaves out as it was.
    static bool appendUTF8(const std::uint8_t* bytes, std::size_t length, Text& out);
    static std::optional<Text> fromUTF8(std::string_view utf8);
    static std::optional<Text> fromUTF8(const std::uint8_t* bytes, std::size_t length);

    // Encodes a text as UTF-8. A lone surrogate has no UTF-8 form and becomes
    // U+FFFD, the replacement character.
    static std::string toUTF8(const Text& text);
    static void appendUTF8(const Text& text, std::string& out);

    // Chooses the encoding of JSON input by the pattern of zero bytes among the
    // first four; fewer than four bytes are UTF-8.
    static Encoding detectEncoding(const std::uint8_t* bytes, std::size_t length);

    // Decodes UTF-16 or UTF-32 input and encodes it again as UTF-8. Fails on a
    // length that is no multiple of the unit size, an unpaired surrogate or a
    // code point past U+10FFFF. A byte-order mark is kept as a character.
    static std::optional<Bytes> reencodeToUTF8(const std::uint8_t* bytes, std::size_t length, Encoding encoding);
};

} // namespace json
