#pragma once
// What goes over the wire between the gateway and trackers, and between a
// transfer client and the gateway: plain functions on bytes, every reader
// strict and bounded, since both the trackers and the network are untrusted.
//
// - Tracker addresses: http, https and udp URLs, and what may be shown of
//   them (host[:port]: a private tracker's key lives in the path or query).
// - HTTP trackers: the announce URL, the bencoded answer.
// - UDP trackers: the connect and announce requests (with the URL's path and
//   query as request-string options) and their replies.
// - The client's announce to the gateway: its request target, and our
//   compact answer or a failure.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace swarm {

// Bounds that hold whatever a tracker or a client sends.
inline constexpr size_t maxUrlLength = 2048;
inline constexpr size_t maxPeersPerAnswer = 500;
inline constexpr size_t maxReasonLength = 200;
inline constexpr size_t maxTokenLength = 64;
inline constexpr size_t maxNumwant = 200;
inline constexpr size_t defaultNumwant = 50;
// A tracker's interval is taken within these (seconds).
inline constexpr uint32_t shortestInterval = 30;
inline constexpr uint32_t longestInterval = 6 * 3600;
inline constexpr uint32_t defaultInterval = 1800;

struct Peer {
    uint32_t address { 0 }; // host order
    uint16_t port { 0 };
    bool operator==(const Peer&) const = default;
    auto operator<=>(const Peer&) const = default;
};

// A peer from a dotted IPv4 address and a port; nothing for anything else.
std::optional<Peer> peerAt(const std::string& address, uint16_t port);
// The peer's address as dotted text ("127.0.0.2").
std::string addressText(const Peer& peer);

enum class Event : uint32_t { None = 0, Completed = 1, Started = 2, Stopped = 3 };

// --- Tracker addresses

struct TrackerUrl {
    enum class Scheme { Http, Https, Udp };
    Scheme scheme { Scheme::Http };
    std::string host;         // a name, an IPv4 address, or an IPv6 one without brackets
    uint16_t port { 0 };      // as written, else the scheme's (80, 443; a udp URL must name one)
    std::string pathAndQuery; // "/announce?passkey=..." (never shown or logged)
    std::string display;      // host[:port] as written: what rows and log lines show
};
std::optional<TrackerUrl> parseTrackerUrl(std::string_view url);

// Printable ASCII only, blanks collapsed, at most `limit` bytes: for text a
// tracker sends that ends up on a screen or in the log.
std::string cleanText(std::string_view text, size_t limit = maxReasonLength);
// The text with every address in it (scheme://host[:port]/path?query) cut
// to its host and port, "/…" standing for the rest: a tracker's path may
// hold a personal key, and the transfer client prints its trackers.
std::string hideAddressPaths(std::string_view text);

// --- What the gateway announces on a client's behalf

struct AnnounceParams {
    std::array<uint8_t, 20> infoHash {};
    std::array<uint8_t, 20> peerId {};
    uint16_t port { 0 };
    uint64_t uploaded { 0 };
    uint64_t downloaded { 0 };
    uint64_t left { 0 };
    Event event { Event::None };
    uint32_t key { 0 };
    int32_t numwant { -1 };
};

struct TrackerAnswer {
    bool failed { false };
    std::string failure;        // the tracker's own reason, cleaned
    uint32_t retryIn { 0 };     // with a failure: when the tracker asks to be asked again (s), 0 if it did not say
    uint32_t interval { defaultInterval };
    uint32_t minInterval { 0 }; // 0: the tracker named none
    std::optional<uint32_t> seeders;
    std::optional<uint32_t> leechers;
    std::vector<Peer> peers;    // IPv4 only, at most maxPeersPerAnswer
    std::optional<uint32_t> externalAddress; // what the tracker saw as our address
};

// The announce URL: the tracker's, with the query of BEP 3 added (compact).
std::string httpAnnounceUrl(std::string_view trackerUrl, const AnnounceParams& params);
// A bencoded answer, or nothing when the body is none (then it is a bad answer).
std::optional<TrackerAnswer> parseHttpAnswer(std::string_view body);

inline constexpr uint64_t udpProtocolId = 0x41727101980ULL;
inline constexpr uint32_t udpConnect = 0, udpAnnounce = 1, udpError = 3;

std::string udpConnectRequest(uint32_t transaction);
// 98 bytes, then the URL's path and query in request-string options (BEP 41).
std::string udpAnnounceRequest(uint64_t connection, uint32_t transaction, const AnnounceParams& params, std::string_view pathAndQuery);

struct UdpReply {
    enum class Kind {
        Ignored,   // not the answer awaited: too short, another transaction or action
        Bad,       // the answer awaited, but malformed (peers not whole)
        Error,     // the tracker refused, saying why
        Connected, // a connection id
        Announced, // peers
    };
    Kind kind { Kind::Ignored };
    uint64_t connection { 0 };
    std::string message;
    TrackerAnswer answer;
};
// Reads a datagram as the reply to request `transaction` of `action`.
UdpReply parseUdpReply(std::string_view bytes, uint32_t transaction, uint32_t action);

// --- The client's announce to the gateway

struct ClientAnnounce {
    std::string token;
    std::array<uint8_t, 20> infoHash {};
    std::array<uint8_t, 20> peerId {};
    uint16_t port { 0 };
    uint64_t uploaded { 0 };
    uint64_t downloaded { 0 };
    uint64_t left { 0 };
    Event event { Event::None };
    uint32_t key { 0 };
    size_t numwant { defaultNumwant };
};

struct ClientAnnounceResult {
    std::optional<ClientAnnounce> announce;
    std::string token;       // the path's token, also when the query is refused
    bool notFound { false }; // the path is no /TOKEN/announce: HTTP 404
    std::string problem;     // why it is refused, for a failure answer
};
ClientAnnounceResult parseClientAnnounce(std::string_view target);

// A token as the gateway makes them: URL-safe letters, at most maxTokenLength.
bool isTokenText(std::string_view token);

std::string compactAnswer(uint32_t interval, uint32_t minInterval, uint32_t seeders, uint32_t leechers, const std::vector<Peer>& peers);
std::string failureAnswer(std::string_view reason);

} // namespace swarm
