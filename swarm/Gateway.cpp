#include "swarm/Gateway.h"

#include "kit/core/Log.h"
#include "kit/core/RunLoop.h"
#include "kit/core/SecretFile.h"
#include "kit/core/Timer.h"
#include "kit/net/HostLookup.h"
#include "kit/net/HttpListener.h"
#include "kit/net/HttpRequest.h"
#include "kit/net/LineServer.h"
#include "kit/net/UdpSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <limits>
#include <random>

namespace swarm {
namespace {

constexpr double never = std::numeric_limits<double>::infinity();
constexpr size_t maxHttpAnswer = 1024 * 1024;
const char* const notAskedYet = "Not asked yet";
const char* const couldNotConnect = "Could not connect";
const char* const timedOut = "Timed out";
const char* const badAnswer = "Bad answer";

// The wait before a tracker that failed `fails` times in a row is asked again.
double backOff(int fails)
{
    return std::min(Gateway::longestBackOff, 5 + 5.0 * fails * fails * 2.5);
}

std::string inWords(double seconds)
{
    if (seconds <= 0.5)
        return "now";
    if (seconds < 60)
        return "in " + std::to_string(int(std::ceil(seconds))) + " s";
    if (seconds < 3600)
        return "in " + std::to_string(int(std::ceil(seconds / 60))) + " min";
    return "in " + std::to_string(int(std::ceil(seconds / 3600))) + " h";
}

std::string plural(size_t n, const char* one)
{
    return std::to_string(n) + " " + one + (n == 1 ? "" : "s");
}

std::string schemeName(TrackerUrl::Scheme scheme)
{
    switch (scheme) {
    case TrackerUrl::Scheme::Http: return "http";
    case TrackerUrl::Scheme::Https: return "https";
    case TrackerUrl::Scheme::Udp: return "udp";
    }
    return "";
}

bool sameAddress(const sockaddr_in& a, const sockaddr_in& b)
{
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

} // namespace

struct Gateway::Tracker {
    std::string url;
    TrackerUrl where;
    // Schedule and state with this tracker.
    bool busy { false };
    Event sending { Event::None };
    double lastAsked { -1 };
    double lastAnswer { -1 };
    uint32_t interval { defaultInterval };
    uint32_t minInterval { 0 };
    int fails { 0 };
    double retryAt { 0 };
    bool toldStarted { false };
    bool owesCompleted { false };
    bool tried { false };
    bool ok { false };
    std::string answer { notAskedYet };
    std::optional<uint32_t> seeders, leechers;
    // The exchange in flight.
    Swarm* swarm { nullptr };
    AnnounceParams params;
    std::shared_ptr<kit::HttpRequest> http;
    int httpStatus { 0 };
    std::string body;
    std::unique_ptr<kit::HostLookup> lookup;
    std::optional<sockaddr_in> address;
    double addressTime { -1 };
    uint64_t connection { 0 };
    double connectionTime { -never };
    uint32_t transaction { 0 };
    uint32_t awaited { 0 }; // the UDP action awaited
    std::string packet;
    std::shared_ptr<kit::Timer> resend;
    std::shared_ptr<kit::Timer> deadline;

    std::string logName() const { return schemeName(where.scheme) + "://" + where.display; }
};

struct Gateway::Swarm {
    std::string token;
    TorrentTrackers torrent;
    std::vector<std::vector<std::unique_ptr<Tracker>>> tiers;
    bool clientKnown { false };
    bool clientStopped { false };
    ClientAnnounce client;
    double clientAskedAt { -1 };
    double answeredAt { -1 };       // the client's last answer, and how many peers it had
    size_t answeredPeers { 0 };
    double nudgedAt { -1e9 };
    bool sawLeft { false };
    bool completed { false };
    struct Heard {
        double seen; // last
        uint8_t sources; // PeerSource bits
    };
    std::map<Peer, Heard> peers;
    void heard(const Peer& peer, double now, PeerSource source)
    {
        auto& entry = peers[peer];
        entry.seen = now;
        entry.sources |= uint8_t(source);
    }
    std::optional<uint32_t> externalAddress;
    std::vector<std::shared_ptr<kit::HttpExchange>> held;
    std::shared_ptr<kit::Timer> holdTimer;
    std::string firstError;
    size_t usable { 0 }; // peers but the client's own, counted when either changes

    template<typename F>
    void forEach(F&& each) const
    {
        for (const auto& tier : tiers)
            for (const auto& tracker : tier)
                each(*tracker);
    }
    bool isOwn(const Peer& peer) const
    {
        if (!clientKnown || peer.port != client.port)
            return false;
        return (peer.address >> 24) == 127 || (externalAddress && peer.address == *externalAddress);
    }
    size_t usablePeers() const { return usable; }
    void recount()
    {
        usable = 0;
        for (const auto& [peer, seen] : peers)
            usable += isOwn(peer) ? 0 : 1;
    }
    bool anyBusy() const
    {
        bool busy = false;
        forEach([&](const Tracker& t) { busy = busy || t.busy; });
        return busy;
    }
};

// --- Making one

kit::ErrorOr<std::unique_ptr<Gateway>> Gateway::listen(uint16_t port)
{
    return make(kit::HttpListener::listen(port));
}

kit::ErrorOr<std::unique_ptr<Gateway>> Gateway::adopt(int listeningFd)
{
    return make(kit::HttpListener::adopt(listeningFd));
}

kit::ErrorOr<std::unique_ptr<Gateway>> Gateway::make(kit::ErrorOr<std::shared_ptr<kit::HttpListener>> listener)
{
    if (listener.isError())
        return listener.error();
    std::unique_ptr<Gateway> gateway(new Gateway(listener.release()));
    auto udp = kit::UdpSocket::open();
    if (udp.isError())
        return udp.error();
    gateway->m_udp = udp.release();
    auto* raw = gateway.get();
    gateway->m_udp->onDatagram = [raw](const sockaddr_in& from, std::string_view bytes) { raw->datagram(from, bytes); };
    gateway->m_listener->onRequest = [raw](const std::shared_ptr<kit::HttpExchange>& exchange) { raw->request(exchange); };
    return gateway;
}

Gateway::Gateway(std::shared_ptr<kit::HttpListener> listener)
    : m_listener(std::move(listener))
    , m_alive(std::make_shared<bool>(true))
    , m_random(std::random_device {}() | uint64_t(std::random_device {}()) << 32)
{
}

Gateway::~Gateway()
{
    *m_alive = false;
    m_listener->onRequest = nullptr;
    m_tick.reset();
    for (auto& [token, swarm] : m_swarms)
        swarm->forEach([&](Tracker& t) { cancel(t); });
    for (auto& swarm : m_leaving)
        swarm->forEach([&](Tracker& t) { cancel(t); });
}

uint16_t Gateway::port() const
{
    return m_listener->port();
}

int Gateway::listeningSocket() const
{
    return m_listener->listeningSocket();
}

bool Gateway::comesFrom(const sockaddr_in& peer, pid_t pid) const
{
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    local.sin_port = htons(port());
    return kit::connectionComesFrom(pid, local, peer);
}

void Gateway::seek(const std::string& token, uint16_t port)
{
    auto found = m_swarms.find(token);
    if (found == m_swarms.end() || port == 0)
        return;
    ClientAnnounce announce;
    announce.token = token;
    std::copy_n(found->second->torrent.infoHash.begin(), std::min<size_t>(20, found->second->torrent.infoHash.size()), announce.infoHash.begin());
    announce.port = port;
    announce.left = 1; // the size is not known before the metadata
    announce.event = found->second->clientKnown ? Event::None : Event::Started;
    clientAnnounced(*found->second, announce);
}

std::vector<Peer> Gateway::peersOf(const std::string& token) const
{
    std::vector<Peer> peers;
    auto found = m_swarms.find(token);
    if (found == m_swarms.end())
        return peers;
    for (const auto& [peer, seen] : found->second->peers)
        if (!found->second->isOwn(peer))
            peers.push_back(peer);
    return peers;
}

const TorrentTrackers* Gateway::torrentOf(const std::string& token) const
{
    auto found = m_swarms.find(token);
    return found == m_swarms.end() ? nullptr : &found->second->torrent;
}

std::optional<uint16_t> Gateway::clientPort(const std::string& token) const
{
    auto found = m_swarms.find(token);
    if (found == m_swarms.end() || !found->second->clientKnown)
        return std::nullopt;
    return found->second->client.port;
}

bool Gateway::addPeers(const std::string& token, const std::vector<Peer>& peers, PeerSource source)
{
    auto found = m_swarms.find(token);
    if (found == m_swarms.end() || found->second->torrent.isPrivate)
        return false;
    Swarm& swarm = *found->second;
    double now = kit::RunLoop::main().now();
    for (const auto& peer : peers)
        if (peer.address != 0 && peer.port != 0)
            swarm.heard(peer, now, source);
    keepPeersBounded(swarm);
    if (!swarm.held.empty() && swarm.usablePeers() > 0)
        answerHeld(swarm);
    changed(swarm);
    return true;
}

size_t Gateway::connectionCount() const
{
    return m_listener->connectionCount();
}

uint64_t Gateway::refusedCount() const
{
    return m_listener->refusedCount();
}

std::string Gateway::newToken()
{
    auto text = kit::randomText(24);
    return text ? text.value() : std::string();
}

std::string Gateway::announceUrl(const std::string& token) const
{
    return "http://127.0.0.1:" + std::to_string(port()) + "/" + token + "/announce";
}

uint32_t Gateway::newTransaction()
{
    // xorshift, seeded from the system: transaction ids a stranger cannot guess.
    uint32_t id;
    do {
        m_random ^= m_random << 13;
        m_random ^= m_random >> 7;
        m_random ^= m_random << 17;
        id = uint32_t(m_random >> 16);
    } while (m_transactions.count(id));
    return id;
}

// --- The transfers

bool Gateway::add(const std::string& token, TorrentTrackers trackers)
{
    if (!isTokenText(token) || trackers.infoHash.size() != 20)
        return false;
    auto found = m_swarms.find(token);
    if (found == m_swarms.end() && m_swarms.size() >= maxTokens)
        return false;
    std::unique_ptr<Swarm> fresh;
    Swarm* swarm;
    if (found != m_swarms.end()) {
        swarm = found->second.get();
    } else {
        fresh = std::make_unique<Swarm>();
        swarm = fresh.get();
        swarm->token = token;
    }
    // Trackers it still names keep their state; tiers are shuffled once, as they come.
    std::map<std::string, std::unique_ptr<Tracker>> old;
    for (auto& tier : swarm->tiers)
        for (auto& tracker : tier)
            old[tracker->url] = std::move(tracker);
    if (swarm->torrent.infoHash != trackers.infoHash) {
        // Another torrent under the same token: nothing of the old one applies.
        for (auto& held : swarm->held)
            held->respond(200, "text/plain", failureAnswer("The transfer has changed"));
        *swarm = Swarm {};
        swarm->token = token;
        for (auto& [url, tracker] : old)
            tracker->url.clear(); // kept by no new tier
    }
    swarm->tiers.clear();
    std::mt19937 shuffle { newTransaction() };
    size_t count = 0;
    for (const auto& urls : trackers.tiers) {
        std::vector<std::unique_ptr<Tracker>> tier;
        for (const auto& url : urls) {
            auto where = parseTrackerUrl(url);
            if (!where || count >= maxTrackers)
                continue;
            ++count;
            if (auto kept = old.find(url); kept != old.end() && !kept->second->url.empty()) {
                tier.push_back(std::move(kept->second));
                old.erase(kept);
                continue;
            }
            auto tracker = std::make_unique<Tracker>();
            tracker->url = url;
            tracker->where = *where;
            tracker->swarm = swarm;
            tier.push_back(std::move(tracker));
        }
        if (shufflesTiers)
            std::shuffle(tier.begin(), tier.end(), shuffle);
        if (!tier.empty())
            swarm->tiers.push_back(std::move(tier));
    }
    for (auto& [url, tracker] : old)
        cancel(*tracker);
    swarm->torrent = std::move(trackers);
    if (fresh)
        m_swarms[token] = std::move(fresh);
    changed(*swarm);
    schedule();
    return true;
}

void Gateway::remove(const std::string& token)
{
    auto found = m_swarms.find(token);
    if (found == m_swarms.end())
        return;
    std::unique_ptr<Swarm> swarm = std::move(found->second);
    m_swarms.erase(found);
    for (auto& held : swarm->held)
        held->respond(200, "text/plain", failureAnswer("The transfer has ended"));
    swarm->held.clear();
    swarm->holdTimer.reset();
    bool saying = false;
    swarm->forEach([&](Tracker& t) {
        cancel(t);
        if (t.toldStarted && swarm->clientKnown) {
            begin(*swarm, t, Event::Stopped);
            saying = true;
        }
    });
    if (!saying)
        return;
    if (m_leaving.size() >= maxLeaving) {
        m_leaving.front()->forEach([&](Tracker& t) { cancel(t); });
        m_leaving.erase(m_leaving.begin());
    }
    m_leaving.push_back(std::move(swarm));
}

void Gateway::collectLeaving()
{
    std::erase_if(m_leaving, [](const std::unique_ptr<Swarm>& swarm) { return !swarm->anyBusy(); });
}

// The longest unseen go first once there are too many, and the long unseen go anyway.
void Gateway::keepPeersBounded(Swarm& swarm)
{
    // Peers no tracker has named for long have most likely gone.
    double now = kit::RunLoop::main().now();
    std::erase_if(swarm.peers, [now](const auto& entry) { return now - entry.second.seen > peerLife; });
    if (swarm.peers.size() > maxPeers) {
        std::vector<std::pair<double, Peer>> bySeen;
        for (const auto& [peer, heard] : swarm.peers)
            bySeen.emplace_back(heard.seen, peer);
        std::nth_element(bySeen.begin(), bySeen.begin() + long(bySeen.size() - maxPeers), bySeen.end());
        for (size_t i = 0; i < bySeen.size() - maxPeers; ++i)
            swarm.peers.erase(bySeen[i].second);
    }
    swarm.recount();
}

// --- What the details show

std::vector<TrackerRow> Gateway::rows(const std::string& token) const
{
    std::vector<TrackerRow> rows;
    auto found = m_swarms.find(token);
    if (found == m_swarms.end())
        return rows;
    const Swarm& swarm = *found->second;
    double now = kit::RunLoop::main().now();
    for (const auto& tier : swarm.tiers) {
        for (size_t i = 0; i < tier.size(); ++i) {
            const Tracker& t = *tier[i];
            TrackerRow row { t.where.display, t.answer, "" };
            double due = trackerDue(swarm, t, i);
            if (t.busy)
                row.next = "now";
            else if (due < never)
                row.next = inWords(due - now);
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

std::string Gateway::note(const std::string& token) const
{
    auto found = m_swarms.find(token);
    if (found == m_swarms.end() || found->second->tiers.empty())
        return {};
    const Swarm& swarm = *found->second;
    bool allTried = true, anyOk = false;
    std::string first;
    swarm.forEach([&](const Tracker& t) {
        allTried = allTried && t.tried;
        anyOk = anyOk || t.ok;
        if (first.empty() && t.tried && !t.ok)
            first = t.answer;
    });
    if (!allTried || anyOk)
        return {};
    return "No tracker answers: " + (swarm.firstError.empty() ? first : swarm.firstError);
}

std::optional<Gateway::Counts> Gateway::counts(const std::string& token) const
{
    auto found = m_swarms.find(token);
    if (found == m_swarms.end())
        return std::nullopt;
    std::optional<Counts> counts;
    found->second->forEach([&](const Tracker& t) {
        if (!t.ok || !t.seeders || !t.leechers)
            return;
        if (!counts)
            counts = Counts { 0, 0 };
        counts->seeders = std::max(counts->seeders, *t.seeders);
        counts->leechers = std::max(counts->leechers, *t.leechers);
    });
    return counts;
}

size_t Gateway::peerCount(const std::string& token) const
{
    auto found = m_swarms.find(token);
    return found == m_swarms.end() ? 0 : found->second->usablePeers();
}

bool Gateway::wantsAnnounce(const std::string& token)
{
    auto found = m_swarms.find(token);
    if (found == m_swarms.end())
        return false;
    Swarm& swarm = *found->second;
    const double now = kit::RunLoop::main().now();
    if (!swarm.clientKnown || swarm.clientStopped || swarm.answeredAt < 0 || swarm.answeredPeers >= fewPeers
        || swarm.usablePeers() <= swarm.answeredPeers || now - swarm.answeredAt < clientDeaf || now - swarm.nudgedAt < nudgeInterval)
        return false;
    swarm.nudgedAt = now;
    return true;
}

SourceCounts Gateway::sourceCounts(const std::string& token) const
{
    SourceCounts counts;
    auto found = m_swarms.find(token);
    if (found == m_swarms.end())
        return counts;
    for (const auto& [peer, heard] : found->second->peers) {
        if (found->second->isOwn(peer))
            continue;
        counts.trackers += (heard.sources & uint8_t(PeerSource::Tracker)) ? 1 : 0;
        counts.dht += (heard.sources & uint8_t(PeerSource::Dht)) ? 1 : 0;
        counts.magnet += (heard.sources & uint8_t(PeerSource::Magnet)) ? 1 : 0;
    }
    return counts;
}

void Gateway::changed(Swarm& swarm)
{
    m_changed.insert(swarm.token);
    if (m_changePosted)
        return;
    m_changePosted = true;
    kit::RunLoop::main().post([this, alive = m_alive] {
        if (!*alive)
            return;
        m_changePosted = false;
        auto tokens = std::move(m_changed);
        m_changed.clear();
        for (const auto& token : tokens)
            if (m_swarms.count(token) && onChanged)
                onChanged(token);
    });
}

// --- The clients' announces

void Gateway::request(const std::shared_ptr<kit::HttpExchange>& exchange)
{
    auto parsed = parseClientAnnounce(exchange->target());
    auto found = parsed.notFound ? m_swarms.end() : m_swarms.find(parsed.token);
    if (found == m_swarms.end()) {
        exchange->respond(404, "text/plain", "Not found\n");
        return;
    }
    Swarm& swarm = *found->second;
    if (acceptsPeer && !acceptsPeer(swarm.token, exchange->peer())) {
        exchange->respond(403, "text/plain", "Forbidden\n");
        return;
    }
    if (!parsed.announce) {
        exchange->respond(200, "text/plain", failureAnswer(parsed.problem));
        return;
    }
    const ClientAnnounce& announce = *parsed.announce;
    if (std::string_view(reinterpret_cast<const char*>(announce.infoHash.data()), 20) != swarm.torrent.infoHash) {
        exchange->respond(200, "text/plain", failureAnswer("info_hash is not this transfer's torrent"));
        return;
    }
    bool first = !swarm.clientKnown;
    clientAnnounced(swarm, announce);
    // The very first announce, with nothing to give yet: the client would
    // not ask again for a while, so wait a moment for the trackers.
    if (first && swarm.usablePeers() == 0 && announce.event != Event::Stopped && swarm.anyBusy()
        && swarm.held.size() < maxHeldAnswers) {
        swarm.held.push_back(exchange);
        if (!swarm.holdTimer) {
            swarm.holdTimer = kit::Timer::scheduled(firstAnswerWait, false, [this, token = swarm.token](kit::Timer&) {
                if (auto it = m_swarms.find(token); it != m_swarms.end())
                    answerHeld(*it->second);
            });
        }
        return;
    }
    answerClient(swarm, *exchange);
}

void Gateway::clientAnnounced(Swarm& swarm, const ClientAnnounce& announce)
{
    double now = kit::RunLoop::main().now();
    bool restarted = swarm.clientStopped && announce.event != Event::Stopped;
    swarm.client = announce;
    swarm.clientKnown = true;
    swarm.recount();
    swarm.clientAskedAt = now;
    if (restarted) {
        swarm.clientStopped = false;
        swarm.forEach([](Tracker& t) { t.toldStarted = false; });
    }
    if (announce.left > 0)
        swarm.sawLeft = true;
    // The client never says "completed": it is seen as left reaching 0.
    if (!swarm.completed && ((swarm.sawLeft && announce.left == 0) || announce.event == Event::Completed)) {
        swarm.completed = true;
        swarm.forEach([](Tracker& t) { t.owesCompleted = t.toldStarted; });
    }
    if (announce.event == Event::Stopped) {
        swarm.clientStopped = true;
        swarm.forEach([&](Tracker& t) {
            bool told = t.toldStarted;
            cancel(t);
            if (told)
                begin(swarm, t, Event::Stopped);
        });
        changed(swarm);
        return;
    }
    runDue();
}

void Gateway::answerClient(Swarm& swarm, kit::HttpExchange& exchange)
{
    std::vector<Peer> peers;
    for (const auto& [peer, seen] : swarm.peers)
        if (!swarm.isOwn(peer))
            peers.push_back(peer);
    std::mt19937 pick { newTransaction() };
    std::shuffle(peers.begin(), peers.end(), pick);
    if (peers.size() > swarm.client.numwant)
        peers.resize(swarm.client.numwant);
    // Few peers: ask back soon. Enough: follow the trackers, within 5 to 30 minutes.
    uint32_t interval;
    if (swarm.usablePeers() < fewPeers) {
        bool anyOk = false;
        swarm.forEach([&](const Tracker& t) { anyOk = anyOk || t.ok; });
        interval = anyOk ? 120 : 60;
    } else {
        uint32_t shortest = longestInterval;
        swarm.forEach([&](const Tracker& t) {
            if (t.ok)
                shortest = std::min(shortest, t.interval);
        });
        interval = std::clamp<uint32_t>(shortest, 300, 1800);
    }
    auto counts = this->counts(swarm.token);
    swarm.answeredAt = kit::RunLoop::main().now();
    swarm.answeredPeers = peers.size();
    exchange.respond(200, "text/plain",
        compactAnswer(interval, std::min<uint32_t>(interval, 30), counts ? counts->seeders : 0, counts ? counts->leechers : 0, peers));
}

void Gateway::answerHeld(Swarm& swarm)
{
    swarm.holdTimer.reset();
    auto held = std::move(swarm.held);
    swarm.held.clear();
    for (auto& exchange : held)
        answerClient(swarm, *exchange);
}

// --- Asking the trackers

// When this tracker is next asked: the first of its tier that is not backing
// off is the one asked; the others only when it fails.
double Gateway::trackerDue(const Swarm& swarm, const Tracker& t, size_t position) const
{
    if (!swarm.clientKnown || swarm.clientStopped)
        return never;
    double now = kit::RunLoop::main().now();
    const auto* tier = [&]() -> const std::vector<std::unique_ptr<Tracker>>* {
        for (const auto& tier : swarm.tiers)
            if (position < tier.size() && tier[position].get() == &t)
                return &tier;
        return nullptr;
    }();
    if (!tier)
        return never;
    for (size_t i = 0; i < position; ++i) {
        const Tracker& before = *(*tier)[i];
        if (before.busy || before.retryAt <= now)
            return never; // one before it is asked; this one only if that fails
    }
    if (t.retryAt > now)
        return t.retryAt;
    if (!t.toldStarted || t.owesCompleted || t.lastAnswer < 0)
        return now;
    uint32_t least = t.minInterval ? t.minInterval : std::min(t.interval, defaultMinInterval);
    // The client asked since we last did, or peers are few: the tracker's least wait will do.
    bool eager = swarm.clientAskedAt > t.lastAsked || swarm.usablePeers() < fewPeers;
    return t.lastAnswer + (eager ? least : t.interval);
}

void Gateway::runDue()
{
    double now = kit::RunLoop::main().now();
    for (auto& [token, swarm] : m_swarms) {
        for (auto& tier : swarm->tiers) {
            bool tierBusy = std::any_of(tier.begin(), tier.end(), [](const auto& t) { return t->busy; });
            if (tierBusy)
                continue;
            for (size_t i = 0; i < tier.size(); ++i) {
                // A timer set for a due time may fire a rounding error before it.
                if (trackerDue(*swarm, *tier[i], i) <= now + 0.001) {
                    Tracker& t = *tier[i];
                    begin(*swarm, t, !t.toldStarted ? Event::Started : t.owesCompleted ? Event::Completed : Event::None);
                    break;
                }
            }
        }
    }
    schedule();
}

void Gateway::schedule()
{
    double next = never;
    for (auto& [token, swarm] : m_swarms)
        for (auto& tier : swarm->tiers) {
            if (std::any_of(tier.begin(), tier.end(), [](const auto& t) { return t->busy; }))
                continue;
            for (size_t i = 0; i < tier.size(); ++i)
                next = std::min(next, trackerDue(*swarm, *tier[i], i));
        }
    if (next == never) {
        m_tick.reset();
        return;
    }
    if (m_tick && m_tick->isValid() && m_tick->fireDate() == next)
        return;
    double now = kit::RunLoop::main().now();
    m_tick = kit::Timer::scheduled(std::max(0.0, next - now), false, [this](kit::Timer&) {
        auto keep = m_tick; // runDue replaces it
        runDue();
    });
}

void Gateway::begin(Swarm& swarm, Tracker& t, Event event)
{
    cancel(t);
    double now = kit::RunLoop::main().now();
    t.swarm = &swarm;
    t.busy = true;
    t.sending = event;
    t.lastAsked = now;
    AnnounceParams& p = t.params;
    std::copy(swarm.torrent.infoHash.begin(), swarm.torrent.infoHash.end(), p.infoHash.begin());
    p.peerId = swarm.client.peerId;
    p.port = swarm.client.port;
    p.uploaded = swarm.client.uploaded;
    p.downloaded = swarm.client.downloaded;
    p.left = swarm.client.left;
    p.event = event;
    p.key = swarm.client.key;
    p.numwant = event == Event::Stopped ? 0 : 200;
    if (event == Event::Stopped)
        t.toldStarted = false; // said once, whatever comes of it
    t.deadline = kit::Timer::scheduled(attemptTime, false, [this, &t](kit::Timer&) { failed(t, timedOut); });
    if (t.where.scheme == TrackerUrl::Scheme::Udp)
        beginUdp(swarm, t);
    else
        beginHttp(swarm, t, p);
    changed(swarm);
}

void Gateway::beginHttp(Swarm& swarm, Tracker& t, const AnnounceParams& params)
{
    t.http = kit::HttpRequest::create(httpAnnounceUrl(t.url, params));
    t.http->setTimeout(attemptTime);
    t.http->setMaximumBodyLength(maxHttpAnswer);
    t.httpStatus = 0;
    t.body.clear();
    t.http->onResponse = [&t](int status) { t.httpStatus = status; };
    t.http->onData = [&t](const uint8_t* bytes, size_t length) { t.body.append(reinterpret_cast<const char*>(bytes), length); };
    t.http->onFailure = [this, &t] {
        failed(t, t.http && t.http->failedByTimeout() ? timedOut : t.body.size() >= maxHttpAnswer ? badAnswer : couldNotConnect);
    };
    t.http->onFinish = [this, &t] {
        auto answer = parseHttpAnswer(t.body);
        if (answer && answer->failed)
            failed(t, answer->failure, answer->retryIn);
        else if (t.httpStatus != 200)
            failed(t, "HTTP error " + std::to_string(t.httpStatus));
        else if (!answer)
            failed(t, badAnswer);
        else
            succeeded(t, *answer);
    };
    if (t.http->start().isError()) // not from inside runDue: a moment later, on the tracker's own timer
        t.deadline = kit::Timer::scheduled(0, false, [this, &t](kit::Timer&) { failed(t, couldNotConnect); });
}

void Gateway::beginUdp(Swarm& swarm, Tracker& t)
{
    double now = kit::RunLoop::main().now();
    if (t.address && now - t.addressTime < addressLife) {
        sendUdp(t);
        return;
    }
    t.lookup = kit::HostLookup::start(t.where.host, t.where.port, [this, &t](kit::ErrorOr<sockaddr_in> address) {
        t.lookup.reset();
        if (address.isError()) {
            failed(t, couldNotConnect);
            return;
        }
        t.address = address.value();
        t.addressTime = kit::RunLoop::main().now();
        sendUdp(t);
    });
}

void Gateway::sendUdp(Tracker& t)
{
    double now = kit::RunLoop::main().now();
    if (t.transaction)
        m_transactions.erase(t.transaction);
    t.transaction = newTransaction();
    m_transactions[t.transaction] = &t;
    if (now - t.connectionTime < udpConnectionLife) {
        t.awaited = udpAnnounce;
        t.packet = udpAnnounceRequest(t.connection, t.transaction, t.params, t.where.pathAndQuery);
    } else {
        t.awaited = udpConnect;
        t.packet = udpConnectRequest(t.transaction);
    }
    (void)m_udp->sendTo(*t.address, t.packet);
    // Sent again while the attempt lasts: a datagram may be lost.
    t.resend = kit::Timer::scheduled(udpResend, true, [this, &t](kit::Timer&) { (void)m_udp->sendTo(*t.address, t.packet); });
}

void Gateway::datagram(const sockaddr_in& from, std::string_view bytes)
{
    if (bytes.size() < 8)
        return;
    uint32_t transaction = uint32_t(uint8_t(bytes[4])) << 24 | uint32_t(uint8_t(bytes[5])) << 16 | uint32_t(uint8_t(bytes[6])) << 8 | uint8_t(bytes[7]);
    auto found = m_transactions.find(transaction);
    if (found == m_transactions.end())
        return;
    Tracker& t = *found->second;
    if (!t.address || !sameAddress(from, *t.address))
        return;
    auto reply = parseUdpReply(bytes, transaction, t.awaited);
    switch (reply.kind) {
    case UdpReply::Kind::Ignored:
        return;
    case UdpReply::Kind::Bad:
        failed(t, badAnswer);
        return;
    case UdpReply::Kind::Error:
        // Our connection id may be what it refuses: the next attempt connects anew.
        t.connectionTime = -never;
        failed(t, reply.message);
        return;
    case UdpReply::Kind::Connected:
        t.connection = reply.connection;
        t.connectionTime = kit::RunLoop::main().now();
        sendUdp(t);
        return;
    case UdpReply::Kind::Announced:
        succeeded(t, reply.answer);
        return;
    }
}

void Gateway::succeeded(Tracker& t, const TrackerAnswer& answer)
{
    Swarm& swarm = *t.swarm;
    double now = kit::RunLoop::main().now();
    Event sent = t.sending;
    finish(t);
    if (!t.ok || !t.tried)
        kit::log("Gateway: " + t.logName() + " answers");
    t.tried = true;
    t.ok = true;
    t.fails = 0;
    t.retryAt = 0;
    t.lastAnswer = now;
    t.interval = answer.interval;
    t.minInterval = answer.minInterval;
    t.seeders = answer.seeders;
    t.leechers = answer.leechers;
    swarm.firstError.clear();
    if (sent == Event::Started)
        t.toldStarted = true;
    // A "started" that left before the client finished still owes the news.
    if (sent == Event::Completed || (sent == Event::Started && swarm.completed))
        t.owesCompleted = sent == Event::Started && t.params.left > 0;
    std::string text = plural(answer.peers.size(), "peer");
    if (answer.seeders && answer.leechers)
        text += ", " + plural(*answer.seeders, "seeder") + ", " + plural(*answer.leechers, "leecher");
    t.answer = text;
    if (answer.externalAddress)
        swarm.externalAddress = answer.externalAddress;
    if (sent != Event::Stopped) {
        for (const auto& peer : answer.peers)
            swarm.heard(peer, now, PeerSource::Tracker);
        keepPeersBounded(swarm);
        // The one that answered leads its tier from now on.
        for (auto& tier : swarm.tiers) {
            auto at = std::find_if(tier.begin(), tier.end(), [&](const auto& p) { return p.get() == &t; });
            if (at != tier.end())
                std::rotate(tier.begin(), at, at + 1);
        }
        if (!swarm.held.empty() && (swarm.usablePeers() > 0 || !swarm.anyBusy()))
            answerHeld(swarm);
    }
    ended(swarm);
}

void Gateway::failed(Tracker& t, const std::string& why, double retryAfter)
{
    Swarm& swarm = *t.swarm;
    finish(t);
    if (t.ok || !t.tried || t.answer != why)
        kit::log("Gateway: " + t.logName() + ": " + why);
    t.tried = true;
    t.ok = false;
    t.answer = why;
    t.seeders.reset();
    t.leechers.reset();
    ++t.fails;
    double now = kit::RunLoop::main().now();
    t.retryAt = now + std::max(backOff(t.fails), retryAfter);
    if (swarm.firstError.empty())
        swarm.firstError = why;
    if (!swarm.held.empty() && !swarm.anyBusy())
        answerHeld(swarm);
    ended(swarm);
}

// After an exchange: ask whoever is due next, or let a removed torrent go
// once it has said goodbye (not here: this runs inside the exchange's callback).
void Gateway::ended(Swarm& swarm)
{
    changed(swarm);
    auto live = m_swarms.find(swarm.token);
    if (live != m_swarms.end() && live->second.get() == &swarm) {
        runDue();
        return;
    }
    kit::RunLoop::main().post([this, alive = m_alive] {
        if (*alive)
            collectLeaving();
    });
}

// The exchange is over: let go of what it held, later where it is running now.
void Gateway::finish(Tracker& t)
{
    t.busy = false;
    t.sending = Event::None;
    if (t.transaction) {
        m_transactions.erase(t.transaction);
        t.transaction = 0;
    }
    if (t.http) {
        // No callback follows a cancel; those running now run from copies.
        t.http->cancel();
        t.http.reset();
    }
    t.lookup.reset();
    if (t.resend)
        t.resend->invalidate();
    if (t.deadline)
        t.deadline->invalidate();
    t.body.clear();
    t.packet.clear();
}

void Gateway::cancel(Tracker& t)
{
    finish(t);
}

} // namespace swarm
