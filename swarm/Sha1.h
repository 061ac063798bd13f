#pragma once
// SHA-1 of some bytes: what names a torrent (its info-hash). Only for that;
// it is no security measure.
#include <array>
#include <cstdint>
#include <string_view>

namespace swarm {

std::array<uint8_t, 20> sha1(std::string_view bytes);

} // namespace swarm
