#pragma once
// The gateway between the transfer clients and the swarm. Each client is
// started with -u http://127.0.0.1:PORT/TOKEN/announce and announces to us
// only; we answer at once with the peers gathered for its torrent, and
// announce on its behalf (its real port, its counts) to every tracker the
// torrent names, over HTTP, HTTPS and UDP.
//
// Trackers, as BEP 12 has them: each tier is shuffled once, one tracker of
// every tier is asked in parallel, a failing one hands over to the next of
// its tier, and one that answers moves to the front. Each keeps its own
// interval, min interval and back-off. A private torrent's peers come only
// from its own trackers (nothing else is ever mixed in). A tracker's path and
// query (where private trackers keep a personal key) are never shown or
// logged: host[:port] only.
//
// One per service, on the main run loop; all times on the loop's clock.
#include "swarm/TorrentTrackers.h"
#include "swarm/TrackerWire.h"
#include "kit/core/ErrorOr.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kit {
class HttpExchange;
class HttpListener;
class Timer;
class UdpSocket;
}

namespace swarm {

struct TrackerRow {       // one tracker as the details screen shows it
    std::string host;     // host[:port] only: never the path/query (private keys live there)
    std::string answer;   // "12 peers, 3 seeders, 9 leechers" | "Could not connect" | "Timed out" |
                          // "Bad answer" | "HTTP error 404" | the tracker's own failure reason
                          // (control chars stripped, bounded) | "Not asked yet"
    std::string next;     // "in 2 min", "in 30 s", "now", "" when not scheduled
};

// Where a peer was heard of; one peer may come from several.
enum class PeerSource : uint8_t { Tracker = 1, Dht = 2, Magnet = 4 };

struct SourceCounts { // peers kept now, by where they came from (the client's own excepted)
    size_t trackers { 0 }, dht { 0 }, magnet { 0 };
    bool operator==(const SourceCounts&) const = default;
};

class Gateway {
public:
    // Bounds and times (seconds on the run loop's clock).
    static constexpr size_t maxTokens = 1024;
    static constexpr size_t maxPeers = 500;           // kept per torrent
    static constexpr double peerLife = 2 * 3600;      // a peer no tracker named again for this long is dropped
    static constexpr size_t maxHeldAnswers = 8;       // per torrent, on its first announce
    static constexpr size_t maxLeaving = 64;          // removed torrents still saying "stopped"
    static constexpr double firstAnswerWait = 3;      // a first announce with no peers waits at most this
    static constexpr double attemptTime = 15;         // one announce to one tracker
    static constexpr double udpResend = 5;            // a UDP request is sent again after this, within the attempt
    static constexpr double udpConnectionLife = 60;   // a UDP connection id is used this long
    static constexpr double addressLife = 1800;       // a UDP tracker's looked-up address
    static constexpr double longestBackOff = 3600;
    static constexpr uint32_t fewPeers = 10;          // below this, the client is asked back soon
    static constexpr uint32_t defaultMinInterval = 300; // for trackers that name none
    static constexpr double clientDeaf = 16;          // the client ignores a call to announce this long after one
    static constexpr double nudgeInterval = 30;       // a client is called back at most this often

    // Listens on 127.0.0.1:port (0 = any) or adopts an already listening socket (kept across service
    // restarts by a keeper process, so clients keep their URL).
    static kit::ErrorOr<std::unique_ptr<Gateway>> listen(uint16_t port = 0);
    static kit::ErrorOr<std::unique_ptr<Gateway>> adopt(int listeningFd);
    ~Gateway();
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    uint16_t port() const;
    int listeningSocket() const;          // for handing a copy to the keeper
    // Connections open now, and those turned away for lack of room.
    size_t connectionCount() const;
    uint64_t refusedCount() const;
    // 24 letters and digits (> 140 bits) from the system's random source; empty if it cannot be read.
    static std::string newToken();
    std::string announceUrl(const std::string& token) const; // http://127.0.0.1:PORT/TOKEN/announce

    // A transfer under token: its trackers. Re-adding the same token replaces trackers, keeps state
    // (of the trackers it still names). A token that is no newToken() text, or one past maxTokens, is
    // refused (false).
    bool add(const std::string& token, TorrentTrackers trackers);
    // The transfer is gone/its client ended: send "stopped" for it to trackers that were told
    // "started" and that the client did not already stop; then forget it.
    void remove(const std::string& token);
    bool contains(const std::string& token) const { return m_swarms.count(token) != 0; }

    // Only the transfer's own client may announce under its token. Default: accept. Given the
    // peer's address/port as seen by accept(); a refused announce gets HTTP 403.
    std::function<bool(const std::string& token, const sockaddr_in& peer)> acceptsPeer;
    // For acceptsPeer: whether the connection from peer to this gateway is held at its end by pid
    // or one of its descendants (/proc, processes of this user).
    bool comesFrom(const sockaddr_in& peer, pid_t pid) const;
    // Peers from elsewhere (a magnet's, the DHT's) for token's answers. Refused (false) for a private
    // torrent, whose peers come only from its own trackers, and for an unknown token.
    bool addPeers(const std::string& token, const std::vector<Peer>& peers, PeerSource source);

    std::vector<TrackerRow> rows(const std::string& token) const;
    // "No tracker answers: <first error>" when every tracker has been tried and none answered; else empty.
    std::string note(const std::string& token) const;
    struct Counts {
        uint32_t seeders, leechers;
    };
    // The largest seeders and leechers counts among trackers whose last answer had them.
    std::optional<Counts> counts(const std::string& token) const;
    // Asks the token's trackers for peers where no client announces yet (a
    // magnet's metadata is being fetched): as a client of `port` that has
    // all still to fetch. Its later announces go on as a client's would.
    void seek(const std::string& token, uint16_t port);
    // The peers kept for token now (the client's own excepted).
    std::vector<Peer> peersOf(const std::string& token) const;
    // The torrent registered under token, or null.
    const TorrentTrackers* torrentOf(const std::string& token) const;
    // The port the token's client announced last (its real one), once it has announced.
    std::optional<uint16_t> clientPort(const std::string& token) const;
    // Peers kept for token now (the client's own excepted).
    size_t peerCount(const std::string& token) const;
    SourceCounts sourceCounts(const std::string& token) const;
    // The client was last given few peers and more are known now (the DHT's,
    // a tracker's late answer): worth calling it to announce again rather
    // than leaving it to wait out its interval. True at most once every
    // nudgeInterval, and never while the client would not listen.
    bool wantsAnnounce(const std::string& token);
    // Tiers are shuffled as BEP 12 asks; tests turn it off to know which tracker comes first.
    bool shufflesTiers { true };
    // rows/note/counts changed: called from the run loop, never from inside add/remove.
    std::function<void(const std::string& token)> onChanged;

    struct Swarm;
    struct Tracker;

private:
    explicit Gateway(std::shared_ptr<kit::HttpListener> listener);
    static kit::ErrorOr<std::unique_ptr<Gateway>> make(kit::ErrorOr<std::shared_ptr<kit::HttpListener>> listener);

    void request(const std::shared_ptr<kit::HttpExchange>& exchange);
    void answerClient(Swarm& swarm, kit::HttpExchange& exchange);
    void answerHeld(Swarm& swarm);
    void clientAnnounced(Swarm& swarm, const ClientAnnounce& announce);

    double trackerDue(const Swarm& swarm, const Tracker& tracker, size_t positionInTier) const;
    void runDue();
    void schedule();
    void begin(Swarm& swarm, Tracker& tracker, Event event);
    void beginHttp(Swarm& swarm, Tracker& tracker, const AnnounceParams& params);
    void beginUdp(Swarm& swarm, Tracker& tracker);
    void sendUdp(Tracker& tracker);
    void datagram(const sockaddr_in& from, std::string_view bytes);
    void succeeded(Tracker& tracker, const TrackerAnswer& answer);
    void failed(Tracker& tracker, const std::string& why, double retryAfter = 0);
    void ended(Swarm& swarm);
    void finish(Tracker& tracker);
    void cancel(Tracker& tracker);
    void changed(Swarm& swarm);
    void keepPeersBounded(Swarm& swarm);
    void collectLeaving();
    uint32_t newTransaction();

    std::shared_ptr<kit::HttpListener> m_listener;
    std::unique_ptr<kit::UdpSocket> m_udp;
    std::map<std::string, std::unique_ptr<Swarm>> m_swarms;
    std::vector<std::unique_ptr<Swarm>> m_leaving;
    std::map<uint32_t, Tracker*> m_transactions;
    std::shared_ptr<kit::Timer> m_tick;
    std::set<std::string> m_changed;
    bool m_changePosted { false };
    std::shared_ptr<bool> m_alive;
    uint64_t m_random;
};

} // namespace swarm
