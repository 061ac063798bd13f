#pragma once
// CDataScanner walks forward through an immutable byte buffer and offers small
// matching operations. It knows nothing of JSON.
//
// Contract:
// - A failing scan never moves the position; a succeeding scan moves it past
//   exactly the bytes it matched (the up-to scans stop in front of what they
//   looked for).
// - Texts that a scan yields are the scanned bytes decoded as UTF-8. When they
//   are not valid UTF-8 the text result is absent (std::nullopt) while the scan
//   itself succeeds and moves on.
// - Character tests look at one byte at a time; a byte stands for the
//   character code of its own value. At the end of the data there is no byte:
//   currentCharacter() yields 0, scanCharacter(c) answers false.
// - A scanner without data behaves as a scanner over empty data.
// - The scanner holds a reference to its data and to its number character set.
//   One thread at a time.

#include "json/CharacterSet.h"
#include "json/Forward.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace json {

class CDataScanner {
public:
    // A new scanner whose data is then set with setData().
    static std::unique_ptr<CDataScanner> scannerWithData(SharedBytes data);

    CDataScanner();
    virtual ~CDataScanner();
    CDataScanner(const CDataScanner&) = delete;
    CDataScanner& operator=(const CDataScanner&) = delete;

    const SharedBytes& data() const { return m_data; }
    // Setting the buffer already set does nothing; otherwise the position goes
    // back to the first byte. nullptr leaves the scanner without data.
    virtual void setData(SharedBytes data);

    std::size_t scanLocation() const { return std::size_t(m_current - m_start); }
    // Positions past the end are taken as the end, so that no later read
    // leaves the data.
    void setScanLocation(std::size_t location);
    bool isAtEnd() const { return scanLocation() >= m_length; }
    std::size_t length() const { return m_length; }

    char16_t currentCharacter() const { return m_current < m_end ? *m_current : 0; }
    bool scanCharacter(char16_t c)
    {
        if (m_current < m_end && *m_current == c) {
            ++m_current;
            return true;
        }
        return false;
    }
    // The character at the position, moving past it; 0 without moving at the end.
    char16_t scanCharacter()
    {
        if (m_current < m_end)
            return *m_current++;
        return 0;
    }

    bool scanUTF8String(const char* string, std::optional<Text>* intoString = nullptr);
    bool scanString(const Text& string, std::optional<Text>* intoString = nullptr);
    bool scanCharactersFromSet(const CharacterSet& set, std::optional<Text>* intoString = nullptr);
    bool scanUpToCharactersFromSet(const CharacterSet& set, std::optional<Text>* intoString = nullptr);
    // The search for the text ends at the first zero byte of the data.
    bool scanUpToString(const Text& string, std::optional<Text>* intoString = nullptr);
    // A run of doubleCharacters, read as the longest leading decimal number in
    // it (0 when there is none; too large gives an infinity of that sign).
    bool scanNumber(double* intoNumber = nullptr);
    void skipWhitespace()
    {
        while (m_current < m_end && isWhitespace(*m_current))
            ++m_current;
    }
    std::optional<Text> remainingString() const;

    const std::shared_ptr<const CharacterSet>& doubleCharacters() const { return m_doubleCharacters; }
    void setDoubleCharacters(std::shared_ptr<const CharacterSet> set) { m_doubleCharacters = std::move(set); }

    // "0123456789eE-.": the characters of which a number may consist.
    static std::shared_ptr<const CharacterSet> defaultDoubleCharacters();

    static bool isWhitespace(std::uint8_t b) { return b == ' ' || (b >= 0x09 && b <= 0x0D); }

    // The double value of the longest leading decimal number of a run.
    static double numberValue(const std::uint8_t* run, std::size_t length);

protected:
    const std::uint8_t* current() const { return m_current; }
    const std::uint8_t* end() const { return m_end; }
    void setCurrent(const std::uint8_t* p) { m_current = p; }

private:
    static void setText(std::optional<Text>* intoString, const std::uint8_t* from, const std::uint8_t* to);

    SharedBytes m_data;
    const std::uint8_t* m_start = nullptr;
    const std::uint8_t* m_end = nullptr;
    const std::uint8_t* m_current = nullptr;
    std::size_t m_length = 0;
    std::shared_ptr<const CharacterSet> m_doubleCharacters;
};

} // namespace json
