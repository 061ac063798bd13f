#include "kit/core/Utf8Decoder.h"

namespace kit {

namespace {
constexpr const char* replacement = "\xEF\xBF\xBD";

// Length of a valid sequence starting at s (0 when invalid, -1 when cut short).
int sequenceLength(const unsigned char* s, size_t avail)
{
    unsigned char c = s[0];
    if (c < 0x80)
        return 1;
    int len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF)
        len = 2;
    else if (c == 0xE0) {
        len = 3;
        lo = 0xA0;
    } else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF)
        len = 3;
    else if (c == 0xED) {
        len = 3;
        hi = 0x9F; // no surrogates
    } else if (c == 0xF0) {
        len = 4;
        lo = 0x90;
    } else if (c >= 0xF1 && c <= 0xF3)
        len = 4;
    else if (c == 0xF4) {
        len = 4;
        hi = 0x8F;
    } else
        return 0;
    for (int i = 1; i < len; ++i) {
        if (size_t(i) >= avail)
            return -1;
        unsigned char b = s[i];
        unsigned char l = i == 1 ? lo : 0x80, h = i == 1 ? hi : 0xBF;
        if (b < l || b > h)
            return 0;
    }
    return len;
}
} // namespace

std::string Utf8Decoder::decode(std::string_view bytes)
{
    std::string in = m_pending;
    in.append(bytes);
    m_pending.clear();
    std::string out;
    out.reserve(in.size());
    auto* p = reinterpret_cast<const unsigned char*>(in.data());
    size_t n = in.size(), i = 0;
    while (i < n) {
        // Fast path for plain ASCII runs.
        size_t j = i;
        while (j < n && p[j] < 0x80)
            ++j;
        out.append(in, i, j - i);
        i = j;
        if (i == n)
            break;
        int len = sequenceLength(p + i, n - i);
        if (len > 0) {
            out.append(in, i, size_t(len));
            i += size_t(len);
        } else if (len < 0) {
            m_pending.assign(in, i, n - i);
            break;
        } else {
            out += replacement;
            ++i;
        }
    }
    return out;
}

std::string Utf8Decoder::finish()
{
    if (m_pending.empty())
        return {};
    m_pending.clear();
    return replacement;
}

std::u32string codepoints(std::string_view utf8)
{
    Utf8Decoder decoder;
    std::string valid = decoder.decode(utf8) + decoder.finish();
    std::u32string out;
    for (size_t i = 0; i < valid.size();) {
        auto c = static_cast<unsigned char>(valid[i]);
        int length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        char32_t cp = length == 1 ? c : c & (0x7F >> length);
        for (int k = 1; k < length && i + k < valid.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(valid[i + k]) & 0x3F);
        out += cp;
        i += size_t(length);
    }
    return out;
}

} // namespace kit
