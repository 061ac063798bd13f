#pragma once
// The .torrent the transfer client is given for a magnet, around the "info"
// dictionary its peers sent.
#include "kit/core/ErrorOr.h"

#include <string>
#include <string_view>
#include <vector>

namespace dht {

// The tracker a .torrent names when the magnet names none: the client refuses
// a torrent without an "announce" key, and announces to the service's gateway
// whatever the torrent says.
inline constexpr const char* placeholderTracker = "http://127.0.0.1:1/announce";

// d 8:announce <the first tracker, or the placeholder> 13:announce-list <one
// tier per tracker, where there is more than one> 4:info <the bytes exactly as
// received> e. The dictionary is never encoded anew: its hash is the torrent's
// identity. Refused, saying why, where the client could not take it: bytes
// that are not one whole dictionary, too many files, a name that would reach
// outside the downloads folder, a torrent of the protocol's second version
// alone, or anything the check of every .torrent refuses.
kit::ErrorOr<std::string> torrentFileFor(std::string_view info, const std::vector<std::string>& trackers);

} // namespace dht
