#pragma once
// The service's node on the BitTorrent DHT, and the fetch of a magnet's
// metadata from peers. Both run on a general BitTorrent library kept inside
// Session.cpp; this header holds none of it.
//
// The node is the gateway's, never the transfer client's peer: it listens on
// a port of its own, looks things up read-only, finds nothing on the local
// network by itself (no local discovery, no port mapping), and only ever
// announces the port it is told to (the client's). A magnet's torrent is added
// to fetch the "info" dictionary alone: no trackers, no DHT announce of its
// own, nothing written to disk, removed as soon as the dictionary is in.
//
// Everything is driven on the caller's run loop (the main one): the library's
// threads only wake the loop, and every callback runs on it. Callbacks may call
// back into the session, cancel, or let it go.
#include "kit/core/ErrorOr.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kit {
class FdWatcher;
class Timer;
}

namespace dht {

struct Peer {
    std::string address; // IPv4, dotted
    uint16_t port { 0 };
    bool operator==(const Peer&) const = default;
    auto operator<=>(const Peer&) const = default;
};

// Where a node with an empty routing table asks its way in.
inline constexpr const char* defaultBootstrapNodes = "router.bittorrent.com:6881,router.utorrent.com:6881,dht.transmissionbt.com:6881";

class Session {
public:
    // Peers reported for one lookup of a hash, and peers a fetch connects to.
    static constexpr size_t maxPeersPerHash = 500;
    // Hashes whose lookups report to a caller at once: a new one beyond
    // this ends the oldest.
    static constexpr size_t maxLookups = 256;
    static constexpr size_t maxFetches = 32;
    // The largest "info" dictionary a fetch accepts (the library's own
    // default, stated here): far past the largest shares' few MiB.
    static constexpr int maxMetadataSize = 30 * 1024 * 1024;
    // Lookups and fetches ask the DHT again this often (seconds on the
    // loop's clock), for peers that came since and in case the node had no
    // nodes yet when they were asked for.
    static constexpr double lookupInterval = 300;
    static constexpr const char* stateFileName = "dht-state";

    // stateFolder: where the routing table is kept ("dht-state", 0600) and read
    // back at start; it must exist. bootstrap: "host:port,host:port".
    // listenInterface: "address:port" (port 0: any free one). enabled: false
    // starts it off, not one packet sent to the DHT until setEnabled(true).
    static kit::ErrorOr<std::unique_ptr<Session>> start(const std::string& stateFolder, const std::string& bootstrap,
        const std::string& listenInterface = "0.0.0.0:0", bool enabled = true);
    ~Session(); // saves the routing table
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Off: no DHT traffic from now on; fetches go on with the peers they
    // have. On again: lookups, the caller's and the fetches', are asked anew.
    void setEnabled(bool on);
    bool enabled() const { return m_enabled; }

    // Looks the 20-byte hash up on the DHT, and again every lookupInterval
    // until stopLookup(). `found` is called with the peers not yet reported by
    // this lookup, as nodes answer, at most maxPeersPerHash in all. A new
    // lookup of the hash replaces the last one (and its callback). While the
    // DHT is off the lookup waits for it to be on. Nothing happens for a hash
    // that is not 20 bytes.
    void getPeers(const std::string& infoHash, std::function<void(std::vector<Peer>)> found);
    // Ends the lookup of the hash: its callback is not called again.
    void stopLookup(const std::string& infoHash);
    // Announces `port` (another program's: the transfer client's) on this
    // address for the hash. Nodes forget an announce after some 45 minutes:
    // announce again at least every 30 minutes while the client runs.
    // Nothing is sent while the DHT is off.
    void announce(const std::string& infoHash, uint16_t port);

    // Nodes in the routing table.
    size_t nodeCount() const;
    // The port the node listens on (TCP for peers, UDP for the DHT); 0 before it listens.
    uint16_t listenPort() const;
    // Writes the routing table to the state file. Errors are logged.
    void save();

    using FetchId = uint64_t;
    // Fetches the "info" dictionary of the 20-byte hash from `peers`, from
    // those addPeers() brings, and from those the DHT finds while it is on.
    // onPeers(n): the number of peers known to the fetch, when it grows.
    // done: the dictionary's exact bytes, hash checked, or why there are
    // none (a bad hash, too many fetches, the hash already being fetched, the
    // library refusing it). A fetch runs until it has the metadata or is
    // cancelled: the caller decides when to give up. No callback comes
    // before fetchMetadata() returns.
    FetchId fetchMetadata(const std::string& infoHash, std::vector<Peer> peers,
        std::function<void(size_t peerCount)> onPeers,
        std::function<void(kit::ErrorOr<std::string> info)> done);
    void addPeers(FetchId id, const std::vector<Peer>& peers);
    // Of a fetch's peers, those the DHT found (none for a fetch not running):
    // a client that runs once the metadata is in starts with them.
    std::vector<Peer> peersFromDht(FetchId id) const;
    // No callback of the fetch comes after this.
    void cancel(FetchId id);
    size_t fetchCount() const { return m_fetches.size(); }

    struct Engine; // the library's session and what belongs to it

private:
    struct Lookup {
        std::set<Peer> reported;
        std::function<void(std::vector<Peer>)> found;
        uint64_t order { 0 };
    };
    struct Fetch {
        std::string infoHash;
        std::set<Peer> peers;
        std::function<void(size_t)> onPeers;
        std::function<void(kit::ErrorOr<std::string>)> done;
        bool added { false };      // its torrent is in the library
        std::set<Peer> fromDht;    // of its peers, those the DHT named first
        // Addresses whose metadata failed the hash check: not connected again.
        std::set<std::string> setAside;
        std::map<std::string, int> strikes;
    };

    Session(std::string stateFolder, std::string metadataFolder, std::unique_ptr<Engine> engine, int wakeFd);

    void handleAlerts();
    void deliverPeers(const std::string& infoHash, std::vector<Peer> peers);
    void addTorrent(FetchId id, Fetch& fetch);
    void removeTorrent(const std::string& infoHash);
    void connectPeers(Fetch& fetch, const std::vector<Peer>& peers, bool fromDht = false);
    void lookUpForFetch(const std::string& infoHash);
    void refreshLookups();
    void metadataReceived(const std::string& infoHash, std::string info);
    void metadataFailed(const std::string& infoHash);
    void torrentRemoved(const std::string& infoHash);
    Fetch* fetchForHash(const std::string& infoHash, FetchId* id = nullptr);

    std::string m_stateFolder;
    std::string m_metadataFolder;
    std::unique_ptr<Engine> m_engine;
    int m_wakeFd { -1 };
    std::unique_ptr<kit::FdWatcher> m_wakeWatch;
    std::shared_ptr<kit::Timer> m_refreshTimer;
    bool m_enabled { true };
    std::map<std::string, Lookup> m_lookups;
    uint64_t m_lookupOrder { 0 };
    std::map<FetchId, Fetch> m_fetches;
    FetchId m_nextFetch { 1 };
    // Fetches refused, their answer posted on the loop (cancel() drops it).
    std::set<FetchId> m_refused;
    // Hashes whose torrents are being removed: the library takes a hash
    // again only once the removal is done.
    std::set<std::string> m_removing;
    // Cleared when the session dies, so that work it left on the loop and
    // alerts handled in a callback's wake know to stop.
    std::shared_ptr<bool> m_alive;
};

} // namespace dht
