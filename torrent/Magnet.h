#pragma once
// A magnet link (BEP 9's form): what it names and where its peers may be.
//   magnet:?xt=urn:btih:<40 hex or 32 base32>&dn=<name>&tr=<tracker>&x.pe=<host:port>
// A hybrid link also carries xt=urn:btmh:1220<64 hex> (a v2 hash): the btih
// is used. A link with only a v2 hash names a torrent the transfer client
// cannot download, and is refused as such. Every part is bounded: a long or
// crowded link is cut to the first of each, never grown with.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torrent {

struct MagnetPeer {
    std::string host; // an IPv4 address or a host name
    uint16_t port { 0 };
    bool operator==(const MagnetPeer&) const = default;
};

struct Magnet {
    static constexpr size_t maxLength = 64 * 1024;
    static constexpr size_t maxTrackers = 64;
    static constexpr size_t maxPeers = 200;
    static constexpr size_t maxNameLength = 255;

    std::array<uint8_t, 20> infoHash {};
    std::string name;                  // dn, made a safe file name; empty without
    std::vector<std::string> trackers; // tr, each a tier of its own, in the link's order
    std::vector<MagnetPeer> peers;     // x.pe
    bool hybrid { false };             // a v2 hash beside the v1 one

    // The hash as 40 lower-case hex digits.
    std::string hashText() const;
    // What the question and the list call it: its name, else its hash.
    std::string displayName() const { return name.empty() ? hashText() : name; }
    // The link again, in a canonical form (what the stored list keeps).
    std::string link() const;
};

struct MagnetResult {
    std::optional<Magnet> magnet;
    std::string problem; // why not, in words, when there is none
};

bool isMagnetLink(std::string_view text);
MagnetResult parseMagnet(std::string_view text);

} // namespace torrent
