#pragma once
// The trackers of a torrent and what the gateway needs besides: its
// info-hash, whether it is private, whether the transfer client can take it.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace swarm {

struct TorrentTrackers {
    std::string infoHash;                        // 20 raw bytes (SHA-1 of the exact info bytes)
    std::vector<std::vector<std::string>> tiers; // announce-list tiers, else {{announce}}
    bool isPrivate { false };                    // info.private == 1
    bool v2Only { false };                       // meta version 2 without a v1 "pieces": the client cannot take it
};

// Only trackers we can speak to (http, https, udp) are kept, each once, at
// most maxTrackers in all, empty tiers dropped. Nothing when the bytes hold
// no torrent (no dictionary with an "info" dictionary).
std::optional<TorrentTrackers> readTrackers(std::string_view torrentBytes);

inline constexpr size_t maxTrackers = 64;

} // namespace swarm
