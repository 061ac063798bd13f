#pragma once
// The transfers the tab knows, in the order they were asked for, and the one
// in front. Each has its own client; at most `limit()` run at once (the
// options screen sets it, "TransfersAtOnce", default 3), further ones queue
// and start, in order, when one ends. The same torrent is never started
// twice: asking for one that is known brings it to the front (and starts it
// again if it has no client).
//
// The list is stored atomically beside the settings on every change: path,
// name, limits, state (running, paused, queued, stopped, complete), the
// client's process id, the choices made in its details and where its copy of
// the torrent is. On the next start (restore()) running and queued ones
// start again, unless the recorded client still runs on that torrent (left by
// a crashed run), which is then adopted instead of doubled; paused ones come
// back paused. A list that cannot be read starts empty, with a log line, and
// is kept aside.
#include "dht/Session.h"
#include "swarm/TrackerWire.h"
#include "kit/core/Timer.h"
#include "transfers/Transfer.h"
#include "transfers/TransferSnapshot.h"
#include "transfers/TransferStore.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kit {
class PortKeeper;
class UserDefaults;
}
namespace swarm {
class Gateway;
}

// A plain read-only view of one transfer, for whoever marks its files.
struct TransferSummary {
    std::string torrentPath;
    double fraction { 0 }; // 0..1; 0 before the first status line
    StoredState state { StoredState::Stopped };
    bool running { false }; // a client is alive (paused counts)
};

class TransferListDelegate {
public:
    virtual ~TransferListDelegate() = default;
    // The list or the front one changed (added, ended, state, front).
    virtual void transferListChanged() = 0;
    // The front transfer showed new output.
    virtual void transferListFrontOutput() = 0;
    // The one-second tick went over every transfer.
    virtual void transferListTicked() = 0;
};

class TransferList : public std::enable_shared_from_this<TransferList> {
public:
    static constexpr const char* limitKey = "TransfersAtOnce";
    // Whether public torrents also find peers through the DHT (on unless "No").
    static constexpr const char* dhtKey = "FindPeersWithoutTrackers";
    // The DHT's first nodes, "host:port,host:port"; unset: the well-known public routers.
    static constexpr const char* dhtNodesKey = "DHTBootstrapNodes";
    // A client's port is announced on the DHT this often (stored peers expire after some 45 minutes).
    static constexpr double dhtAnnounceSeconds = 25 * 60;
    static constexpr int defaultLimit = 3;
    static constexpr int largestLimit = 20;
    // Clients started elsewhere listed at most (more are left out, said once).
    static constexpr size_t maxElsewhere = 16;

    using Asked = ::Asked;
    using Answer = AskAnswer;

    std::weak_ptr<TransferListDelegate> delegate;

    TransferList();
    ~TransferList();

    // The limit of transfers at once from the stored settings.
    static int storedLimit(kit::UserDefaults& defaults);
    // Why a typed limit is not accepted ("" when it is).
    static std::string limitProblem(std::string_view text);

    Answer ask(const std::string& path, const std::string& name, const TransferOptions& options);
    const std::vector<std::shared_ptr<Transfer>>& transfers() const { return m_transfers; }
    Transfer* front() const { return m_front.get(); }
    std::shared_ptr<Transfer> frontPointer() const { return m_front; }
    void bringToFront(Transfer& transfer);
    Transfer* find(const std::string& path) const;
    int limit() const;
    size_t runningCount() const;

    void stopFront();
    void pauseFront();
    // A held client goes on; a transfer without a client starts again (its
    // client resumes from its .bf file), through the limit.
    kit::ErrorOr<void> resumeFront();

    // Forgets a transfer without a client (stopped, ended, complete): its
    // files stay where they are; only its output file goes.
    kit::ErrorOr<void> remove(Transfer& transfer);

    // Ends every client and stores them all as stopped (the application ends).
    void endAll();
    // Listens for the clients' control channel (before any client starts);
    // why it cannot, when it cannot: transfers then run without it.
    void startControlChannel();
    const std::string& channelProblem() const { return m_channelProblem; }
    // Shares the total limits among running transfers and sends each its
    // own (on the tick, every few seconds, and when a limit is set).
    void balanceLimits();
    // Seconds between two shares of the total limits among running transfers.
    static constexpr int balanceTicks = 3;

    // Reads the stored list and brings it back (once, at start).
    void restore();
    void store();

    // Whether a person sees the transfers as they go (their tab on screen in
    // a shown window; the default). Unseen, the clients' output and channels
    // are read on the one-second tick alone, so that the clients' writes, a
    // few a second each, do not wake the application; seen again, what
    // waited is read at once.
    void setSeen(bool seen);
    bool isSeen() const { return m_seen; }

    // Its trackers as the gateway asks them for its client, and what to say
    // when none answers; none for a transfer that does not go through it.
    std::vector<TrackerLine> trackerLines(const Transfer& transfer) const;
    std::string trackerNote(const Transfer& transfer) const;
    // Where its peers came from, while the service looks for them.
    std::optional<PeerSources> peerSources(const Transfer& transfer) const;
    swarm::Gateway* gateway() const { return m_gateway.get(); }

    std::vector<TransferSummary> summaries() const;
    bool isTicking() const { return m_tick && m_tick->isValid(); }
    void tickAll();

    // The recorded client still runs on that torrent: the program is the
    // transfer client (or a script of it) and its last argument the torrent.
    static bool isClientOn(pid_t pid, const std::string& torrentPath);
    // The client was started with the control channel (it reconnects to the port by itself).
    static bool usesControlChannel(pid_t pid);

private:
    std::shared_ptr<Transfer> add(const std::string& path, const std::string& name, const TransferOptions& options);
    void wire(Transfer& transfer);
    void transferEnded(Transfer& transfer);
    void transferOutput(Transfer& transfer);
    void transferStateChanged(Transfer& transfer);
    void startQueued();
    void finishRestore();
    void ensureTicking();
    void tell();
    std::vector<TransferStore::Record> storedRecords() const;

    void clientConnected(const std::shared_ptr<ControlClient>& client);

    void tellKeeper();
    void openControlChannel();
    // The clients' tracker gateway: they announce to it, and it to every
    // tracker of their torrents (over UDP too, which the client cannot).
    void startGateway();
    // Registers the transfer's trackers under its key (made once); false
    // when it cannot go through the gateway.
    bool joinGateway(Transfer& transfer);
    void leaveGateway(Transfer& transfer);
    // What every start of a client needs: the control channel and the gateway.
    void prepareStart(Transfer& transfer);
    // On the tick: public torrents with a running client are looked up on
    // the DHT (their peers go to the gateway's answers) and their clients'
    // ports announced there; the others' lookups end. Private ones never.
    void tendDht();
    bool ensureDht();
    // A magnet link asked for: a transfer that fetches its metadata first.
    Answer askMagnet(const std::string& link, const std::string& name, const TransferOptions& options);
    // Fetches a magnet transfer's metadata; once checked it is written as its
    // .torrent and its client starts like any other's.
    kit::ErrorOr<void> startFetch(Transfer& transfer);
    // The peers a magnet's fetch knows of, by where they came from; its
    // client starts with them.
    struct FetchPeers {
        std::vector<swarm::Peer> fromLink, fromDht;
    };
    void fetched(Transfer& transfer, kit::ErrorOr<std::string> info, FetchPeers peers);
    void cancelFetch(Transfer& transfer);
    struct Fetching {
        uint64_t fetch; // the DHT session's
        FetchPeers peers;
    };
    std::map<uint64_t, Fetching> m_fetches;        // by transfer id
    std::map<uint64_t, FetchPeers> m_firstPeers;   // a fetched magnet's, until its client first starts
    std::optional<ControlAccess> m_controlAccess;
    std::unique_ptr<kit::PortKeeper> m_keeper;
    bool m_keeperFailed { false };
    bool m_portTakenByStranger { false };
    static constexpr int keeperEndingTries = 20;
    static constexpr double keeperEndingPause = 0.05;
    bool m_elsewhereFull { false };
    std::shared_ptr<ControlServer> m_server;
    std::unique_ptr<swarm::Gateway> m_gateway;
    std::unique_ptr<dht::Session> m_dht;
    bool m_dhtFailed { false };
    struct DhtWork {
        std::string hash;
        uint16_t announcedPort { 0 };
        double announcedAt { 0 };
    };
    std::map<std::string, DhtWork> m_dhtWork; // by gateway key
    std::string m_channelProblem;
    bool m_channelTried { false };
    int m_ticks { 0 };
    std::vector<std::shared_ptr<Transfer>> m_transfers;
    std::shared_ptr<Transfer> m_front;
    std::shared_ptr<kit::Timer> m_tick;
    bool m_restoring { false };
    bool m_restorePending { false };
    bool m_ending { false };
    bool m_seen { true };
};
