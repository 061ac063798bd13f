#pragma once
// A set of 16-bit character codes, used by the byte scanner to test one byte at
// a time. Bytes only ever carry codes 0 to 255, so codes above that are never
// members: the set keeps 256 bits and drops the rest when it is built.

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

namespace json {

class CharacterSet {
public:
    CharacterSet() = default;

    // The set of the characters of a UTF-8 text (invalid bytes are taken as
    // the codes of their own values).
    static CharacterSet characterSetWithCharactersInString(std::string_view utf8);
    static std::shared_ptr<const CharacterSet> shared(std::string_view utf8);

    bool characterIsMember(char16_t c) const
    {
        return c < 256 && (m_bits[c >> 6] >> (c & 63)) & 1u;
    }
    void addCharacter(char16_t c)
    {
        if (c < 256)
            m_bits[c >> 6] |= std::uint64_t(1) << (c & 63);
    }

private:
    std::array<std::uint64_t, 4> m_bits {};
};

} // namespace json
