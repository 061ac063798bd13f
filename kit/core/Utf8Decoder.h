#pragma once
// Lenient, incremental UTF-8 decoding of a byte stream that arrives in chunks:
// a sequence cut at the end of a chunk is carried over to the next one, and
// bytes that are no UTF-8 become U+FFFD. The result is valid UTF-8.
#include "kit/core/Utf8.h"

#include <string>
#include <string_view>

namespace kit {

class Utf8Decoder {
public:
    std::string decode(std::string_view bytes);
    // End of the stream: a sequence still waiting becomes U+FFFD.
    std::string finish();
    bool hasPending() const { return !m_pending.empty(); }

private:
    std::string m_pending;
};

// The code points of a text; bytes that are no UTF-8 become U+FFFD.
std::u32string codepoints(std::string_view utf8);

} // namespace kit
