#include "transfers/TransferList.h"

#include "kit/core/DeviceLayout.h"
#include "kit/core/FileManager.h"
#include "kit/core/ForeignProcess.h"
#include "kit/core/Log.h"
#include "kit/core/Platform.h"
#include "kit/core/RunLoop.h"
#include "kit/core/UserDefaults.h"
#include "kit/core/WeakBind.h"
#include "transfers/BandwidthShare.h"
#include "kit/net/LineServer.h"
#include "kit/net/PortKeeper.h"
#include "dht/Session.h"
#include "dht/TorrentFile.h"
#include "kit/core/AtomicFile.h"
#include "torrent/Magnet.h"
#include "swarm/Gateway.h"
#include "torrent/TorrentContents.h"
#include "transfers/ControlDevice.h"
#include "transfers/ControlReports.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace {

std::string normalPath(const std::string& path)
{
    return std::filesystem::path(path).lexically_normal().string();
}

} // namespace

std::string TransferList::limitProblem(std::string_view text)
{
    auto value = wholeNumber(text);
    if (!value || *value < 1 || *value > largestLimit)
        return "transfers at once is a whole number from 1 to " + std::to_string(largestLimit);
    return "";
}

int TransferList::storedLimit(kit::UserDefaults& defaults)
{
    auto text = defaults.stringForKey(limitKey).value_or("");
    if (text.empty() || !limitProblem(text).empty())
        return defaultLimit;
    return int(*wholeNumber(text));
}

int TransferList::limit() const
{
    return storedLimit(kit::UserDefaults::standard());
}

Transfer* TransferList::find(const std::string& path) const
{
    auto wanted = normalPath(path);
    for (auto& transfer : m_transfers)
        if (normalPath(transfer->path()) == wanted)
            return transfer.get();
    // Its client runs from its own copy and names that.
    for (auto& transfer : m_transfers)
        if (!transfer->copyPath().empty() && normalPath(transfer->copyPath()) == wanted)
            return transfer.get();
    return nullptr;
}

size_t TransferList::runningCount() const
{
    return size_t(std::count_if(m_transfers.begin(), m_transfers.end(), [](auto& t) { return t->isRunning(); }));
}

void TransferList::startControlChannel()
{
    if (m_channelTried)
        return;
    m_channelTried = true;
    openControlChannel();
    startGateway();
}

void TransferList::openControlChannel()
{
    auto password = ControlDevice::password();
    if (!password) {
        m_channelProblem = "The control channel cannot be used (" + password.error().message + "): transfers run without it.";
        kit::log(m_channelProblem);
        return;
    }
    const uint16_t stored = ControlDevice::storedPort();
    // The port's keeper holds the socket while our clients may come back to
    // it: a run that finds one serves on its socket, never on a new one.
    auto fromKeeper = [&]() -> bool {
        auto keeper = kit::PortKeeper::join();
        if (!keeper)
            return false;
        auto served = ControlServer::serve(keeper->takeListeningSocket(), password.value());
        if (!served) {
            kit::log(served.error().message);
            return false;
        }
        m_server = served.release();
        m_keeper = std::move(keeper);
        kit::log("Control channel on 127.0.0.1:" + std::to_string(m_server->port()) + ", kept between runs (keeper process "
            + std::to_string(m_keeper->keeperPid()) + ")");
        return true;
    };
    if (!fromKeeper()) {
        auto server = ControlServer::listen(stored, password.value());
        // A keeper of ours that is just ending (the last run ended its last
        // client a moment ago) lets the port go within moments: wait for it,
        // a little, rather than run without the channel.
        for (int attempt = 0; !server && stored != 0 && attempt < keeperEndingTries; ++attempt) {
            auto holder = kit::LineServer::listenerUser(stored);
            if (holder && *holder != kit::LineServer::ownUser())
                break;
            kit::RunLoop::sleepBriefly(keeperEndingPause);
            if (fromKeeper())
                break;
            server = ControlServer::listen(stored, password.value());
        }
        if (!m_server && !server) {
            auto holder = kit::LineServer::listenerUser(stored);
            std::string who = "another program";
            if (holder)
                who = *holder == kit::LineServer::ownUser() ? "another program of yours" : "a program of user " + std::to_string(*holder);
            if (holder && *holder != kit::LineServer::ownUser()) {
                // Our clients give the password to whoever holds the port:
                // it is renewed, and clients that would go there start again without it.
                m_portTakenByStranger = true;
                ControlDevice::renewPassword();
            }
            m_channelProblem = "Port " + std::to_string(stored) + " on 127.0.0.1 is held by " + who + " (" + server.error().message
                + "): transfers run without the control channel.";
            kit::log(m_channelProblem);
            return;
        }
        if (!m_server) {
            m_server = server.release();
            kit::log("Control channel on 127.0.0.1:" + std::to_string(m_server->port()));
        }
    }
    m_server->setReadsOnDemand(!m_seen);
    if (stored != m_server->port())
        ControlDevice::storePort(m_server->port());
    m_server->sameClient = [weak = weak_from_this()](const ControlClient& known, const kit::LineConnection& connection) {
        auto self = weak.lock();
        if (!self)
            return true;
        for (auto& transfer : self->m_transfers) {
            if (transfer->control() != &known)
                continue;
            auto pid = transfer->clientPid();
            return transfer->isElsewhere() || (pid && connection.comesFrom(*pid));
        }
        return true;
    };
    m_server->onClient = [weak = weak_from_this()](const std::shared_ptr<ControlClient>& client) {
        if (auto self = weak.lock())
            self->clientConnected(client);
    };
    m_controlAccess = ControlAccess { m_server->port(), password.value() };
}

void TransferList::startGateway()
{
    // The keeper holds the gateway's socket beside the control port's, so
    // that clients left running keep the address they announce to.
    const int kept = m_keeper ? m_keeper->takeGatewaySocket() : -1;
    auto gateway = kept >= 0 ? swarm::Gateway::adopt(kept) : swarm::Gateway::listen(0);
    if (!gateway) {
        kit::log("The tracker gateway cannot listen (" + gateway.error().message + "): clients announce to their torrents' first tracker themselves");
        return;
    }
    m_gateway = gateway.release();
    m_gateway->acceptsPeer = [weak = weak_from_this()](const std::string& token, const sockaddr_in& peer) {
        auto self = weak.lock();
        if (!self)
            return false;
        // Only the transfer's own client announces under its key.
        for (auto& transfer : self->m_transfers)
            if (transfer->gatewayToken == token) {
                auto pid = transfer->clientPid();
                return pid && self->m_gateway->comesFrom(peer, *pid);
            }
        return false;
    };
    m_gateway->onChanged = [weak = weak_from_this()](const std::string& token) {
        auto self = weak.lock();
        if (!self)
            return;
        // A magnet's trackers found peers: its metadata fetch is given them.
        for (auto& transfer : self->m_transfers) {
            auto fetch = self->m_fetches.find(transfer->id());
            if (transfer->gatewayToken != token || fetch == self->m_fetches.end() || !self->m_dht)
                continue;
            std::vector<dht::Peer> peers;
            for (auto& peer : self->m_gateway->peersOf(token))
                peers.push_back({ swarm::addressText(peer), peer.port });
            self->m_dht->addPeers(fetch->second.fetch, peers);
        }
        self->tell();
    };
    kit::log("Tracker gateway on 127.0.0.1:" + std::to_string(m_gateway->port()) + (kept >= 0 ? ", kept between runs" : ""));
}

bool TransferList::joinGateway(Transfer& transfer)
{
    if (!m_gateway)
        return false;
    if (transfer.gatewayToken.empty())
        transfer.gatewayToken = swarm::Gateway::newToken();
    if (transfer.gatewayToken.empty())
        return false; // no random source: its client announces as before
    std::string bytes;
    std::ifstream in(transfer.runPath(), std::ios::binary);
    if (in) {
        bytes.assign(std::istreambuf_iterator<char>(in), {});
        if (bytes.size() > size_t(torrent::maxFileSize))
            bytes.clear();
    }
    auto trackers = swarm::readTrackers(bytes);
    // The address a trackerless magnet's .torrent names for its client's
    // sake is no tracker: its peers come from the DHT alone.
    bool placeholder = false;
    if (trackers) {
        for (auto& tier : trackers->tiers)
            placeholder = std::erase(tier, std::string(dht::placeholderTracker)) > 0 || placeholder;
        std::erase_if(trackers->tiers, [](auto& tier) { return tier.empty(); });
    }
    if (!trackers || (trackers->tiers.empty() && !placeholder)) {
        kit::log(transfer.name() + ": its trackers cannot be read; its client announces to the torrent's own tracker");
        return false;
    }
    if (!m_gateway->add(transfer.gatewayToken, std::move(*trackers))) {
        kit::log(transfer.name() + ": the tracker gateway takes no more torrents; its client announces to the torrent's own tracker");
        return false;
    }
    return true;
}

void TransferList::leaveGateway(Transfer& transfer)
{
    if (m_gateway && !transfer.gatewayToken.empty())
        m_gateway->remove(transfer.gatewayToken);
}

void TransferList::prepareStart(Transfer& transfer)
{
    transfer.setControlAccess(m_controlAccess);
    // Its own copy first: the gateway reads the trackers of the torrent the client runs.
    transfer.keepCopy();
    const bool viaGateway = joinGateway(transfer);
    transfer.setAnnounceAddress(viaGateway ? std::optional(m_gateway->announceUrl(transfer.gatewayToken)) : std::nullopt);
    if (auto first = m_firstPeers.find(transfer.id()); first != m_firstPeers.end()) {
        if (viaGateway) {
            m_gateway->addPeers(transfer.gatewayToken, first->second.fromLink, swarm::PeerSource::Magnet);
            m_gateway->addPeers(transfer.gatewayToken, first->second.fromDht, swarm::PeerSource::Dht);
        }
        m_firstPeers.erase(first);
    }
}

std::vector<TrackerLine> TransferList::trackerLines(const Transfer& transfer) const
{
    std::vector<TrackerLine> lines;
    if (!m_gateway || transfer.gatewayToken.empty())
        return lines;
    for (auto& row : m_gateway->rows(transfer.gatewayToken))
        lines.push_back({ row.host, row.answer, row.next });
    return lines;
}

std::string TransferList::trackerNote(const Transfer& transfer) const
{
    if (!m_gateway || transfer.gatewayToken.empty())
        return {};
    return m_gateway->note(transfer.gatewayToken);
}

std::optional<PeerSources> TransferList::peerSources(const Transfer& transfer) const
{
    if (!m_gateway || transfer.gatewayToken.empty() || !m_gateway->contains(transfer.gatewayToken)) {
        if (!transfer.isFetching())
            return std::nullopt;
    }
    const auto counts = m_gateway ? m_gateway->sourceCounts(transfer.gatewayToken) : swarm::SourceCounts {};
    PeerSources sources { (long long)counts.trackers, (long long)counts.dht, (long long)counts.magnet };
    // A fetch's peers are the DHT session's own until its client runs.
    if (auto fetch = m_fetches.find(transfer.id()); fetch != m_fetches.end()) {
        sources.dht = (long long)fetch->second.peers.fromDht.size();
        sources.magnet = (long long)fetch->second.peers.fromLink.size();
    }
    return sources;
}

bool TransferList::ensureDht()
{
    if (m_dht)
        return true;
    if (m_dhtFailed)
        return false;
    const auto state = kit::DeviceLayout::current().stateFolder();
    std::error_code ignored;
    std::filesystem::create_directories(state, ignored);
    // A rig with no way out (tests, an offline machine) names its own first nodes.
    const char* rigNodes = std::getenv("QUORVANE_DHT_BOOTSTRAP");
    auto nodes = kit::UserDefaults::standard().stringForKey(dhtNodesKey).value_or(rigNodes ? rigNodes : dht::defaultBootstrapNodes);
    // A DHT of loopback nodes alone (a test's) is met on loopback.
    bool loopback = !nodes.empty();
    std::string_view rest = nodes;
    while (!rest.empty()) {
        auto comma = rest.find(',');
        auto node = rest.substr(0, comma);
        while (!node.empty() && node.front() == ' ')
            node.remove_prefix(1);
        loopback = loopback && node.rfind("127.", 0) == 0;
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    // Off in the settings, it starts off: a magnet's fetch needs the node, not the DHT.
    const bool wanted = kit::UserDefaults::standard().stringForKey(dhtKey).value_or("Yes") != "No";
    auto session = dht::Session::start(state, nodes, loopback ? "127.0.0.1:0" : "0.0.0.0:0", wanted);
    if (!session) {
        m_dhtFailed = true;
        kit::log("The DHT cannot be used (" + session.error().message + "): torrents find peers through their trackers alone");
        return false;
    }
    m_dht = session.release();
    kit::log("DHT node on port " + std::to_string(m_dht->listenPort()) + " (read-only), first nodes: " + nodes + (wanted ? "" : "; off"));
    return true;
}

void TransferList::tendDht()
{
    if (!m_gateway)
        return;
    const auto wantedText = kit::UserDefaults::standard().stringForKey(dhtKey).value_or("Yes");
    const bool wanted = wantedText != "No";
    if (m_dht && m_dht->enabled() != wanted)
        m_dht->setEnabled(wanted);
    const double now = kit::RunLoop::main().now();
    std::set<std::string> live;
    for (auto& transfer : m_transfers) {
        const auto& token = transfer->gatewayToken;
        // Peers came that its client has not had: it is called to announce now.
        if (!token.empty() && !transfer->isElsewhere() && transfer->control() && m_gateway->wantsAnnounce(token))
            transfer->control()->announce();
        if (!wanted || token.empty() || transfer->isElsewhere() || !transfer->hasClient())
            continue;
        const auto* torrent = m_gateway->torrentOf(token);
        if (!torrent || torrent->isPrivate || torrent->infoHash.size() != 20)
            continue; // a private torrent's peers come from its own trackers alone
        if (!ensureDht())
            return;
        live.insert(token);
        auto& work = m_dhtWork[token];
        if (work.hash.empty()) {
            work.hash = torrent->infoHash;
            m_dht->getPeers(work.hash, [weak = weak_from_this(), token](std::vector<dht::Peer> found) {
                auto self = weak.lock();
                if (!self || !self->m_gateway)
                    return;
                std::vector<swarm::Peer> peers;
                for (auto& peer : found)
                    if (auto known = swarm::peerAt(peer.address, peer.port))
                        peers.push_back(*known);
                self->m_gateway->addPeers(token, peers, swarm::PeerSource::Dht);
            });
        }
        // Announced with its client's own port, as the client gave it to the gateway.
        if (auto port = m_gateway->clientPort(token); port && (work.announcedPort != *port || now - work.announcedAt >= dhtAnnounceSeconds)) {
            m_dht->announce(work.hash, *port);
            work.announcedPort = *port;
            work.announcedAt = now;
        }
    }
    for (auto it = m_dhtWork.begin(); it != m_dhtWork.end();) {
        if (live.count(it->first)) {
            ++it;
            continue;
        }
        if (m_dht)
            m_dht->stopLookup(it->second.hash);
        it = m_dhtWork.erase(it);
    }
}

TransferList::Answer TransferList::askMagnet(const std::string& link, const std::string& name, const TransferOptions& options)
{
    auto parsed = torrent::parseMagnet(link);
    if (!parsed.magnet)
        return { Asked::Failed, parsed.problem };
    const auto& magnet = *parsed.magnet;
    const std::string hash(reinterpret_cast<const char*>(magnet.infoHash.data()), magnet.infoHash.size());
    for (auto& known : m_transfers) {
        auto knownLink = known->magnet.empty() ? torrent::MagnetResult {} : torrent::parseMagnet(known->magnet);
        const bool sameLink = knownLink.magnet && knownLink.magnet->infoHash == magnet.infoHash;
        const auto* torrent = m_gateway && !known->gatewayToken.empty() ? m_gateway->torrentOf(known->gatewayToken) : nullptr;
        if (sameLink || (torrent && torrent->infoHash == hash)) {
            m_front = known;
            tell();
            return { Asked::AlreadyThere, std::nullopt };
        }
    }
    // Its .torrent goes to the downloads folder under the link's name (its
    // hash without one), never over another torrent's file.
    const auto folder = std::filesystem::path(kit::DeviceLayout::current().transferWorkingFolder());
    auto path = folder / (magnet.displayName() + ".torrent");
    std::error_code ignored;
    if (std::filesystem::exists(path, ignored) || find(path.string()))
        path = folder / (magnet.displayName() + " (" + magnet.hashText().substr(0, 8) + ").torrent");
    if (std::filesystem::exists(path, ignored) || find(path.string()))
        return { Asked::Failed, "A file named " + path.filename().string() + " is already in the downloads folder." };
    auto transfer = add(path.string(), name.empty() ? magnet.displayName() : name, options);
    transfer->magnet = magnet.link();
    m_front = transfer;
    if (auto started = startFetch(*transfer); !started) {
        std::erase_if(m_transfers, [&](auto& t) { return t == transfer; });
        m_front = m_transfers.empty() ? nullptr : m_transfers.back();
        return { Asked::Failed, started.error().message };
    }
    ensureTicking();
    store();
    tell();
    return { Asked::Started, std::nullopt };
}

kit::ErrorOr<void> TransferList::startFetch(Transfer& transfer)
{
    auto parsed = torrent::parseMagnet(transfer.magnet);
    if (!parsed.magnet)
        return kit::Error { parsed.problem };
    if (!ensureDht())
        return kit::Error { "The metadata of a magnet link cannot be fetched: the DHT node of the service did not start." };
    const auto& magnet = *parsed.magnet;
    const std::string hash(reinterpret_cast<const char*>(magnet.infoHash.data()), magnet.infoHash.size());
    // The session takes IPv4 addresses alone and passes over the rest.
    std::vector<dht::Peer> peers;
    FetchPeers known;
    for (auto& peer : magnet.peers) {
        peers.push_back({ peer.host, peer.port });
        if (auto usable = swarm::peerAt(peer.host, peer.port))
            known.fromLink.push_back(*usable);
    }
    // The link's trackers are asked through the gateway, UDP ones too.
    if (m_gateway && !magnet.trackers.empty()) {
        if (transfer.gatewayToken.empty())
            transfer.gatewayToken = swarm::Gateway::newToken();
        swarm::TorrentTrackers trackers;
        trackers.infoHash = hash;
        for (auto& url : magnet.trackers)
            trackers.tiers.push_back({ url });
        if (m_gateway->add(transfer.gatewayToken, std::move(trackers)))
            m_gateway->seek(transfer.gatewayToken, m_dht->listenPort());
    }
    const uint64_t id = transfer.id();
    auto weak = weak_from_this();
    const auto fetch = m_dht->fetchMetadata(
        hash, peers,
        [weak, id](size_t count) {
            auto self = weak.lock();
            if (!self)
                return;
            for (auto& t : self->m_transfers)
                if (t->id() == id && t->isFetching())
                    t->setFetching(count);
            if (auto fetch = self->m_fetches.find(id); fetch != self->m_fetches.end() && self->m_dht) {
                auto& fromDht = fetch->second.peers.fromDht;
                fromDht.clear();
                for (auto& peer : self->m_dht->peersFromDht(fetch->second.fetch))
                    if (auto usable = swarm::peerAt(peer.address, peer.port))
                        fromDht.push_back(*usable);
            }
        },
        [weak, id](kit::ErrorOr<std::string> info) {
            auto self = weak.lock();
            if (!self)
                return;
            auto fetch = self->m_fetches.find(id);
            if (fetch == self->m_fetches.end())
                return;
            auto peers = std::move(fetch->second.peers);
            self->m_fetches.erase(fetch);
            for (auto& t : std::vector(self->m_transfers))
                if (t->id() == id)
                    self->fetched(*t, std::move(info), std::move(peers));
        });
    m_fetches[id] = Fetching { fetch, std::move(known) };
    transfer.setFetching(peers.size());
    return {};
}

void TransferList::cancelFetch(Transfer& transfer)
{
    auto found = m_fetches.find(transfer.id());
    if (found != m_fetches.end() && m_dht)
        m_dht->cancel(found->second.fetch);
    if (found != m_fetches.end())
        m_fetches.erase(found);
    leaveGateway(transfer);
}

void TransferList::fetched(Transfer& transfer, kit::ErrorOr<std::string> info, FetchPeers peers)
{
    leaveGateway(transfer);
    if (!transfer.isFetching())
        return; // stopped meanwhile
    auto parsed = torrent::parseMagnet(transfer.magnet);
    kit::ErrorOr<std::string> bytes = info ? dht::torrentFileFor(info.value(), parsed.magnet ? parsed.magnet->trackers : std::vector<std::string> {})
                                           : kit::ErrorOr<std::string>(info.error());
    if (bytes) {
        auto written = kit::writeFileAtomically(transfer.path(), reinterpret_cast<const uint8_t*>(bytes.value().data()), bytes.value().size());
        if (!written)
            bytes = kit::Error { "its .torrent cannot be written (" + written.error().message + ")" };
    }
    transfer.setFetching(std::nullopt);
    if (!bytes) {
        kit::log(transfer.name() + ": the metadata of its magnet link was not taken: " + bytes.error().message);
        transfer.restoreAs(StoredState::Stopped);
        transfer.fetchFailed(bytes.error().message);
        store();
        tell();
        return;
    }
    kit::log(transfer.name() + ": its metadata arrived and is kept as " + transfer.path());
    // Its client, now or once its turn comes, starts with the peers the
    // fetch knew: the link's own addresses and what the DHT found.
    m_firstPeers[transfer.id()] = std::move(peers);
    transfer.magnet.clear();
    if (runningCount() >= size_t(limit()))
        transfer.setQueued(true);
    else {
        prepareStart(transfer);
        if (auto started = transfer.start(); !started)
            kit::log(transfer.name() + ": " + started.error().message);
    }
    ensureTicking();
    store();
    tell();
}

void TransferList::tellKeeper()
{
    if (!m_server)
        return;
    std::vector<pid_t> pids;
    for (auto& transfer : m_transfers)
        if (!transfer->isElsewhere())
            if (auto pid = transfer->clientPid())
                pids.push_back(*pid);
    if (m_keeper && !m_keeper->setClients(pids)) {
        kit::log("The control port's keeper (process " + std::to_string(m_keeper->keeperPid()) + ") has gone; another is started");
        m_keeper.reset();
    }
    if (!m_keeper && !pids.empty() && !m_keeperFailed) {
        // The first client of ours: from now on the port must outlive this run.
        auto started = kit::PortKeeper::start(m_server->listeningSocket(), m_gateway ? m_gateway->listeningSocket() : -1);
        if (!started) {
            m_keeperFailed = true;
            kit::log("The control port is not kept between runs (" + started.error().message
                + "): while Quorvane is not running, another program could take it");
            return;
        }
        m_keeper = started.release();
        kit::log("The control port is kept between runs by process " + std::to_string(m_keeper->keeperPid()));
        m_keeper->setClients(pids);
    }
}

void TransferList::clientConnected(const std::shared_ptr<ControlClient>& client)
{
    // A connection speaks for a transfer only when it comes from that
    // transfer's own client: anyone with the password could name its torrent.
    for (auto& transfer : m_transfers) {
        if (transfer->control() == client.get()) {
            transfer->attachControl(client); // the same client, back again (vouched for in sameClient)
            return;
        }
    }
    if (auto* known = find(client->torrentPath()); known && !known->isElsewhere()) {
        if (auto pid = known->clientPid(); pid && ControlServer::comesFrom(*client, *pid)) {
            known->attachControl(client);
            return;
        }
        kit::log(known->name() + ": a connection naming its torrent does not come from its client (" + client->key() + "); it is listed as started elsewhere");
    }
    const size_t elsewhere = size_t(std::count_if(m_transfers.begin(), m_transfers.end(), [](auto& t) { return t->isElsewhere(); }));
    if (elsewhere >= maxElsewhere) {
        if (!std::exchange(m_elsewhereFull, true))
            kit::log("Control channel: " + std::to_string(maxElsewhere) + " clients started elsewhere are listed; further ones are not");
        return;
    }
    // Started by hand or on another machine: it joins the list, not the stored one.
    const auto name = ControlReports::printable(std::filesystem::path(client->torrentPath()).filename().string(), 255);
    kit::log(name + ": a client started elsewhere joins the list (" + client->key() + ")");
    auto transfer = add(client->torrentPath(), name, {});
    transfer->joinFromElsewhere();
    transfer->attachControl(client);
    if (!m_front)
        m_front = transfer;
    ensureTicking();
    tell();
}

void TransferList::balanceLimits()
{
    finishRestore();
    // The options screen's limits are a total for every running transfer,
    // shared by what each uses; a transfer's own limits stand apart.
    auto options = TransferOptions::stored(kit::UserDefaults::standard());
    for (bool down : { true, false }) {
        const auto total = down ? options.downloadLimit : options.uploadLimit;
        std::vector<Transfer*> sharing;
        std::vector<long long> rates;
        for (auto& t : m_transfers) {
            auto* channel = t->control();
            if (!channel || !channel->isConnected() || !t->hasClient())
                continue;
            auto& own = down ? t->ownDownloadLimit : t->ownUploadLimit;
            auto& sent = down ? t->sentDownloadLimit : t->sentUploadLimit;
            long long wanted = -1;
            if (own)
                wanted = *own;
            else if (!total)
                wanted = 0;
            if (wanted >= 0) {
                if (sent != wanted) {
                    down ? channel->setDownloadLimit(wanted) : channel->setUploadLimit(wanted);
                    sent = wanted;
                }
                continue;
            }
            sharing.push_back(t.get());
            auto& status = channel->status();
            rates.push_back(status ? (down ? status->downRate : status->upRate) : 0);
        }
        if (!total || sharing.empty())
            continue;
        auto limits = BandwidthShare::allot(*total * 1024, rates);
        for (size_t i = 0; i < sharing.size(); ++i) {
            auto& sent = down ? sharing[i]->sentDownloadLimit : sharing[i]->sentUploadLimit;
            if (sent == limits[i])
                continue;
            down ? sharing[i]->control()->setDownloadLimit(limits[i]) : sharing[i]->control()->setUploadLimit(limits[i]);
            sent = limits[i];
        }
    }
}

void TransferList::wire(Transfer& transfer)
{
    transfer.onEnded = kit::bindWeak(*this, &TransferList::transferEnded);
    transfer.onOutput = kit::bindWeak(*this, &TransferList::transferOutput);
    transfer.onStateChanged = kit::bindWeak(*this, &TransferList::transferStateChanged);
}

std::shared_ptr<Transfer> TransferList::add(const std::string& path, const std::string& name, const TransferOptions& options)
{
    auto transfer = std::make_shared<Transfer>(path, name, options);
    transfer->setLive(m_seen);
    wire(*transfer);
    m_transfers.push_back(transfer);
    return transfer;
}

void TransferList::ensureTicking()
{
    // One tick serves every transfer.
    if (!isTicking())
        m_tick = kit::Timer::scheduled(1.0, true, [weak = weak_from_this()](kit::Timer&) {
            if (auto self = weak.lock())
                self->tickAll();
        });
}

TransferList::TransferList() = default;
TransferList::~TransferList() = default;

TransferList::Answer TransferList::ask(const std::string& path, const std::string& name, const TransferOptions& options)
{
    // The restored clients first, as before (see restore()).
    finishRestore();
    startControlChannel();
    if (torrent::isMagnetLink(path))
        return askMagnet(path, name, options);
    if (auto* known = find(path)) {
        // Never a second client on one torrent: the known one comes to the front.
        m_front = known->shared_from_this();
        if (known->hasClient() || known->isQueued()) {
            tell();
            return { Asked::AlreadyThere, std::nullopt };
        }
        known->setOptions(options);
        if (auto resumed = resumeFront(); !resumed)
            return { Asked::Failed, resumed.error().message };
        return { known->isQueued() ? Asked::Queued : Asked::Started, std::nullopt };
    }
    if (runningCount() >= size_t(limit())) {
        auto transfer = add(path, name, options);
        // The torrent as it is now is the one it will run.
        transfer->keepCopy();
        transfer->setQueued(true);
        m_front = transfer;
        ensureTicking();
        store();
        tell();
        return { Asked::Queued, std::nullopt };
    }
    auto transfer = std::make_shared<Transfer>(path, name, options);
    transfer->setLive(m_seen);
    prepareStart(*transfer);
    if (auto started = transfer->start(); !started) {
        leaveGateway(*transfer);
        return { Asked::Failed, started.error().message }; // the list is as it was
    }
    wire(*transfer);
    m_transfers.push_back(transfer);
    m_front = transfer;
    ensureTicking();
    store();
    tell();
    return { Asked::Started, std::nullopt };
}

void TransferList::bringToFront(Transfer& transfer)
{
    finishRestore();
    m_front = transfer.shared_from_this();
    tell();
}

void TransferList::stopFront()
{
    finishRestore();
    if (m_front && m_front->isFetching())
        cancelFetch(*m_front);
    if (m_front)
        m_front->stop();
}

void TransferList::pauseFront()
{
    finishRestore();
    if (m_front)
        m_front->pause();
}

kit::ErrorOr<void> TransferList::resumeFront()
{
    finishRestore();
    if (!m_front)
        return {};
    if (m_front->isQuitting()) {
        // Stopped a moment ago and still going: it starts again once it has gone.
        m_front->restartWhenGone = true;
        tell();
        return {};
    }
    if (m_front->hasClient())
        return m_front->resume();
    if (!m_front->magnet.empty()) {
        auto started = startFetch(*m_front);
        store();
        tell();
        return started;
    }
    if (m_front->isQueued())
        return {};
    if (runningCount() >= size_t(limit())) {
        m_front->setQueued(true);
        store();
        tell();
        return {};
    }
    prepareStart(*m_front);
    auto failure = m_front->start();
    ensureTicking();
    store();
    tell();
    return failure;
}

kit::ErrorOr<void> TransferList::remove(Transfer& transfer)
{
    finishRestore();
    if (transfer.hasClient() || transfer.isQueued())
        return kit::Error { transfer.name() + " is still going on: stop it before removing it from the list." };
    auto keep = transfer.shared_from_this();
    m_firstPeers.erase(transfer.id());
    std::erase_if(m_transfers, [&](auto& t) { return t.get() == &transfer; });
    if (m_front.get() == &transfer)
        m_front = m_transfers.empty() ? nullptr : m_transfers.front();
    std::error_code ignored;
    std::filesystem::remove(Transfer::outputPath(transfer.path()), ignored);
    if (!transfer.copyPath().empty()) {
        std::filesystem::remove(transfer.copyPath(), ignored);
        std::filesystem::remove(std::filesystem::path(transfer.copyPath()).parent_path(), ignored);
    }
    leaveGateway(transfer);
    kit::log(transfer.name() + " is removed from the list of transfers; its files stay");
    store();
    tell();
    return {};
}

void TransferList::transferOutput(Transfer& transfer)
{
    if (&transfer != m_front.get())
        return;
    if (auto d = delegate.lock())
        d->transferListFrontOutput();
}

void TransferList::transferStateChanged(Transfer&)
{
    store();
    tell();
}

void TransferList::transferEnded(Transfer& transfer)
{
    // Its trackers are told it stopped, where its client did not say so.
    leaveGateway(transfer);
    if (!m_ending && std::exchange(transfer.restartWhenGone, false)) {
        // Resume was asked while it quit: now that it has gone it starts, through the limit.
        if (runningCount() >= size_t(limit()))
            transfer.setQueued(true);
        else {
            prepareStart(transfer);
            if (auto started = transfer.start(); !started)
                kit::log(transfer.name() + ": " + started.error().message);
        }
    }
    if (!m_ending)
        startQueued();
    store();
    tell();
}

void TransferList::startQueued()
{
    for (auto& transfer : m_transfers) {
        if (runningCount() >= size_t(limit()))
            break;
        if (!transfer->isQueued())
            continue;
        transfer->setQueued(false);
        if (!transfer->magnet.empty()) {
            if (auto started = startFetch(*transfer); !started)
                kit::log(transfer->name() + ": " + started.error().message);
            continue;
        }
        prepareStart(*transfer);
        if (auto started = transfer->start(); !started) {
            kit::log(transfer->name() + ": " + started.error().message);
            transfer->restoreAs(StoredState::Stopped);
        }
    }
}

void TransferList::tell()
{
    if (auto d = delegate.lock())
        d->transferListChanged();
}

void TransferList::setSeen(bool seen)
{
    if (seen == m_seen)
        return;
    m_seen = seen;
    if (m_server)
        m_server->setReadsOnDemand(!seen);
    for (auto& transfer : std::vector(m_transfers))
        transfer->setLive(seen);
}

void TransferList::tickAll()
{
    // Unseen, the channels' lines of the last second are read now, before
    // the transfers are asked again.
    if (m_server && !m_seen)
        m_server->readWaiting();
    const double now = kit::RunLoop::main().now();
    // A transfer's end may start a queued one: tick a copy.
    auto transfers = m_transfers;
    for (auto& transfer : transfers)
        transfer->tick(now);
    // A limit raised on the options screen lets queued ones start.
    startQueued();
    tendDht();
    if (m_ticks++ % balanceTicks == 0)
        balanceLimits();
    if (auto d = delegate.lock())
        d->transferListTicked();
}

void TransferList::endAll()
{
    finishRestore();
    m_ending = true;
    // Own clients end with the application (it ends every child it started);
    // one taken over from an earlier run is told here, as it is no child.
    for (auto& transfer : m_transfers) {
        // Asked on its channel, a client ends at once and cleanly; the
        // signal that follows for our own children is only a fallback.
        if (auto* channel = transfer->control(); channel && channel->isConnected() && !transfer->isElsewhere())
            channel->quit();
        if (transfer->isAdopted() && transfer->hasClient())
            transfer->stop();
    }
    // The person ended the application, and its transfers with it: the next
    // start lists them stopped.
    auto records = storedRecords();
    for (size_t i = 0, t = 0; i < records.size(); ++i, ++t) {
        while (m_transfers[t]->isElsewhere())
            ++t;
        auto& record = records[i];
        // One that was seeding is complete, whatever its client was doing at the end.
        if (m_transfers[t]->progress().isComplete())
            record.state = StoredState::Complete;
        if (record.state != StoredState::Complete)
            record.state = StoredState::Stopped;
        record.pid.reset();
    }
    TransferStore::write(records);
}

std::vector<TransferStore::Record> TransferList::storedRecords() const
{
    std::vector<TransferStore::Record> records;
    for (auto& transfer : m_transfers)
        if (!transfer->isElsewhere()) {
            auto& r = records.emplace_back(transfer->path(), transfer->name(), transfer->storedState(), transfer->clientPid(),
                transfer->options(), transfer->lastPieces(), transfer->completionTold());
            r.chosenFiles = transfer->chosenFiles;
            r.ownDownloadLimit = transfer->ownDownloadLimit;
            r.ownUploadLimit = transfer->ownUploadLimit;
            r.seedHours = transfer->seedHours;
            r.seedRatio = transfer->seedRatio;
            r.copy = transfer->copyPath();
            r.token = transfer->gatewayToken;
            r.magnet = transfer->magnet;
        }
    return records;
}

void TransferList::store()
{
    finishRestore();
    if (m_restoring || m_ending)
        return;
    TransferStore::write(storedRecords());
    tellKeeper();
}

bool TransferList::usesControlChannel(pid_t pid)
{
    auto args = kit::ForeignProcess::commandLine(pid);
    return args && std::find(args->begin(), args->end(), "-S") != args->end();
}

bool TransferList::isClientOn(pid_t pid, const std::string& torrentPath)
{
    auto args = kit::ForeignProcess::commandLine(pid);
    if (!args || args->size() < 2)
        return false;
    const auto client = kit::DeviceLayout::current().ctorrentPath();
    const auto clientName = std::filesystem::path(client).filename().string();
    auto isClient = [&](const std::string& arg) {
        return arg == client || std::filesystem::path(arg).filename().string() == clientName;
    };
    // The client itself, or an interpreter running it as a script.
    const bool program = isClient((*args)[0]) || (args->size() > 2 && (*args)[1] == client);
    return program && normalPath(args->back()) == normalPath(torrentPath);
}

void TransferList::restore()
{
    startControlChannel();
    auto records = TransferStore::read();
    if (records.empty())
        return; // nothing to bring back, nothing to tell
    m_restoring = true;
    std::vector<std::shared_ptr<Transfer>> fetchAgain;
    for (auto& record : records) {
        if (find(record.path))
            continue; // never twice
        auto transfer = add(record.path, record.name, record.options);
        transfer->restoreProgress(record.pieces, record.completionTold);
        // The choices made in its details hold again, and reach its client when it connects.
        transfer->chosenFiles = record.chosenFiles;
        transfer->ownDownloadLimit = record.ownDownloadLimit;
        transfer->ownUploadLimit = record.ownUploadLimit;
        transfer->seedHours = record.seedHours;
        transfer->seedRatio = record.seedRatio;
        transfer->restoreCopy(record.copy);
        transfer->gatewayToken = record.token;
        if (!record.magnet.empty()) {
            // Its metadata is fetched again from the start: nothing of it was written.
            transfer->magnet = record.magnet;
            const bool going = record.state == StoredState::Running || record.state == StoredState::Queued;
            transfer->restoreAs(going ? StoredState::Stopped : record.state);
            if (going)
                fetchAgain.push_back(transfer);
            continue;
        }
        const bool wasGoing = record.state == StoredState::Running || record.state == StoredState::Queued || record.state == StoredState::Paused;
        // A client of this form runs from the copy; one of an older list from the file itself.
        const auto& ran = record.copy.empty() ? record.path : record.copy;
        if (wasGoing && record.pid && isClientOn(*record.pid, ran)) {
            kit::log(record.name + ": the client left running (process " + std::to_string(*record.pid) + ") is taken over");
            transfer->adopt(*record.pid, record.state == StoredState::Paused);
            // Its client goes on announcing to the gateway it was started with.
            if (!record.token.empty())
                joinGateway(*transfer);
            if (m_portTakenByStranger && usesControlChannel(*record.pid)) {
                kit::log(record.name + ": its client would go on giving the password to the program that holds the control port; "
                                       "it is started again without the channel");
                transfer->stop();
                transfer->restartWhenGone = true;
            }
            continue;
        }
        transfer->restoreAs(record.state);
    }
    m_restoring = false;
    for (auto& transfer : fetchAgain)
        if (auto started = startFetch(*transfer); !started)
            kit::log(transfer->name() + ": " + started.error().message);
    // The clients start once the window has shown its first frame (at once
    // where there is none): starting them was the longest part of a start
    // with transfers to bring back, and the first tab shows none of them.
    // Whatever is done to the list before then finishes this first, so that
    // things happen in the same order as ever.
    m_restorePending = true;
    kit::Platform::current().afterFirstFrame([weak = weak_from_this()] {
        if (auto self = weak.lock())
            self->finishRestore();
    });
}

void TransferList::finishRestore()
{
    if (!std::exchange(m_restorePending, false))
        return;
    startQueued();
    if (!m_transfers.empty()) {
        auto going = std::find_if(m_transfers.begin(), m_transfers.end(), [](auto& t) { return t->hasClient(); });
        m_front = going != m_transfers.end() ? *going : m_transfers.front();
        ensureTicking();
    }
    store();
    tell();
}

std::vector<TransferSummary> TransferList::summaries() const
{
    std::vector<TransferSummary> out;
    for (auto& transfer : m_transfers) {
        auto& latest = transfer->progress().latest();
        out.push_back({ transfer->path(), latest ? std::clamp(latest->fraction(), 0.0, 1.0) : 0.0, transfer->storedState(), transfer->hasClient() });
    }
    return out;
}

