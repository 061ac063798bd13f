#include "json/CDataScanner.h"

#include "json/TextCodec.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

namespace json {

std::unique_ptr<CDataScanner> CDataScanner::scannerWithData(SharedBytes data)
{
    auto scanner = std::make_unique<CDataScanner>();
    scanner->setData(std::move(data));
    return scanner;
}

std::shared_ptr<const CharacterSet> CDataScanner::defaultDoubleCharacters()
{
    static const std::shared_ptr<const CharacterSet> set = CharacterSet::shared("0123456789eE-.");
    return set;
}

CDataScanner::CDataScanner()
    : m_doubleCharacters(defaultDoubleCharacters())
{
}

CDataScanner::~CDataScanner() = default;

void CDataScanner::setData(SharedBytes data)
{
    if (data == m_data)
        return;
    m_data = std::move(data);
    if (m_data) {
        m_start = m_data->data();
        m_length = m_data->size();
    } else {
        m_start = nullptr;
        m_length = 0;
    }
    m_end = m_start + m_length;
    m_current = m_start;
}

void CDataScanner::setScanLocation(std::size_t location)
{
    m_current = m_start + std::min(location, m_length);
}

void CDataScanner::setText(std::optional<Text>* intoString, const std::uint8_t* from, const std::uint8_t* to)
{
    if (intoString)
        *intoString = TextCodec::fromUTF8(from, std::size_t(to - from));
}

bool CDataScanner::scanUTF8String(const char* string, std::optional<Text>* intoString)
{
    const std::size_t n = std::strlen(string);
    if (std::size_t(m_end - m_current) < n || std::memcmp(m_current, string, n) != 0)
        return false;
    m_current += n;
    if (intoString)
        *intoString = TextCodec::fromUTF8(std::string_view(string, n));
    return true;
}

bool CDataScanner::scanString(const Text& string, std::optional<Text>* intoString)
{
    const std::string bytes = TextCodec::toUTF8(string);
    if (std::size_t(m_end - m_current) < bytes.size() || std::memcmp(m_current, bytes.data(), bytes.size()) != 0)
        return false;
    m_current += bytes.size();
    if (intoString)
        *intoString = string;
    return true;
}

bool CDataScanner::scanCharactersFromSet(const CharacterSet& set, std::optional<Text>* intoString)
{
    const std::uint8_t* p = m_current;
    while (p < m_end && set.characterIsMember(*p))
        ++p;
    if (p == m_current)
        return false;
    setText(intoString, m_current, p);
    m_current = p;
    return true;
}

bool CDataScanner::scanUpToCharactersFromSet(const CharacterSet& set, std::optional<Text>* intoString)
{
    const std::uint8_t* p = m_current;
    while (p < m_end && !set.characterIsMember(*p))
        ++p;
    if (p == m_current)
        return false;
    setText(intoString, m_current, p);
    m_current = p;
    return true;
}

bool CDataScanner::scanUpToString(const Text& string, std::optional<Text>* intoString)
{
    const std::string needle = TextCodec::toUTF8(string);
    if (needle.empty())
        return false;
    const std::uint8_t* limit = m_current;
    while (limit < m_end && *limit)
        ++limit;
    auto found = std::search(m_current, limit, needle.begin(), needle.end(),
        [](std::uint8_t a, char b) { return a == std::uint8_t(b); });
    if (found == limit)
        return false;
    setText(intoString, m_current, found);
    m_current = found;
    return true;
}

double CDataScanner::numberValue(const std::uint8_t* run, std::size_t length)
{
    // Find the longest leading number: -? digits* (. digits*)? with at least one
    // digit, then an exponent e/E -? digits+ when it is complete.
    const char* s = reinterpret_cast<const char*>(run);
    std::size_t i = 0;
    const bool negative = i < length && s[i] == '-';
    if (negative)
        ++i;
    std::size_t digits = 0;
    int firstDigitPlace = 0; // decimal place of the first non-zero digit, for overflow
    bool seenNonZero = false;
    int integerDigits = 0;
    while (i < length && s[i] >= '0' && s[i] <= '9') {
        if (seenNonZero || s[i] != '0') {
            if (!seenNonZero)
                seenNonZero = true;
            ++integerDigits;
        }
        ++i;
        ++digits;
    }
    firstDigitPlace = integerDigits;
    if (i < length && s[i] == '.') {
        std::size_t j = i + 1;
        int zeros = 0;
        std::size_t fraction = 0;
        while (j < length && s[j] >= '0' && s[j] <= '9') {
            if (!seenNonZero) {
                if (s[j] == '0')
                    ++zeros;
                else {
                    seenNonZero = true;
                    firstDigitPlace = -zeros;
                }
            }
            ++j;
            ++fraction;
        }
        if (digits + fraction > 0) {
            digits += fraction;
            i = j;
        }
    }
    if (digits == 0)
        return 0.0;
    std::size_t mantissaEnd = i;
    long long exponent = 0;
    if (i < length && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        bool negativeExponent = j < length && s[j] == '-';
        if (negativeExponent)
            ++j;
        std::size_t expStart = j;
        while (j < length && s[j] >= '0' && s[j] <= '9') {
            if (exponent < 100000000)
                exponent = exponent * 10 + (s[j] - '0');
            ++j;
        }
        if (j > expStart) {
            mantissaEnd = j;
            if (negativeExponent)
                exponent = -exponent;
        }
    }
    // Exact without a general conversion: an integer mantissa below 2^53
    // scaled by at most 10^22 rounds once, in the one multiply or divide.
    {
        static constexpr double powers[] = { 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12,
            1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22 };
        std::uint64_t mantissa = 0;
        int significant = 0;
        long long scale = exponent;
        bool afterPoint = false;
        std::size_t k = negative ? 1 : 0;
        const std::size_t digitsEnd = i;
        for (; k < digitsEnd; ++k) {
            if (s[k] == '.') {
                afterPoint = true;
                continue;
            }
            if (mantissa == 0 && s[k] == '0') {
                if (afterPoint)
                    --scale;
                continue;
            }
            if (++significant > 15)
                break;
            mantissa = mantissa * 10 + std::uint64_t(s[k] - '0');
            if (afterPoint)
                --scale;
        }
        if (significant <= 15 && scale >= -22 && scale <= 22) {
            double value = double(mantissa);
            value = scale >= 0 ? value * powers[scale] : value / powers[-scale];
            return negative ? -value : value;
        }
    }
    double value = 0.0;
    auto [end, ec] = std::from_chars(s, s + mantissaEnd, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Too large becomes infinite, too small becomes zero, each with its sign.
        const bool overflow = seenNonZero && firstDigitPlace + exponent > 0;
        value = overflow ? std::numeric_limits<double>::infinity() : 0.0;
        if (negative)
            value = -value;
    } else if (ec != std::errc()) {
        value = 0.0;
    }
    return value;
}

bool CDataScanner::scanNumber(double* intoNumber)
{
    if (!m_doubleCharacters)
        return false;
    const std::uint8_t* p = m_current;
    while (p < m_end && m_doubleCharacters->characterIsMember(*p))
        ++p;
    if (p == m_current)
        return false;
    if (intoNumber)
        *intoNumber = numberValue(m_current, std::size_t(p - m_current));
    m_current = p;
    return true;
}

std::optional<Text> CDataScanner::remainingString() const
{
    return TextCodec::fromUTF8(m_current, std::size_t(m_end - m_current));
}

} // namespace json
