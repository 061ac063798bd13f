#include "dht/Session.h"

#include "kit/core/AtomicFile.h"
#include "kit/core/FdWatcher.h"
#include "kit/core/Log.h"
#include "kit/core/RunLoop.h"
#include "kit/core/Timer.h"

#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/alert_types.hpp>
#include <libtorrent/bdecode.hpp>
#include <libtorrent/disabled_disk_io.hpp>
#include <libtorrent/extensions.hpp>
#include <libtorrent/peer_connection_handle.hpp>
#include <libtorrent/hasher.hpp>
#include <libtorrent/hex.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/torrent_flags.hpp>
#include <libtorrent/torrent_handle.hpp>
#include <libtorrent/torrent_info.hpp>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dht {

namespace {

// Which peers sent the metadata of each fetch, so that the sender of bytes
// that fail the hash check can be set aside. The library itself punishes no
// one for it: a peer that says it has the metadata is asked again every few
// seconds, whatever it sent before, and one that always answers first keeps
// the honest ones from ever being asked. It runs on the library's threads:
// everything it holds is behind the mutex.
class MetadataWitness : public lt::plugin {
public:
    // The senders since the last take.
    std::set<lt::address> take(const lt::sha1_hash& hash)
    {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_senders[hash], {});
    }
    void setAside(const lt::sha1_hash& hash, const lt::address& address)
    {
        std::lock_guard lock(m_mutex);
        m_setAside[hash].insert(address);
    }
    void forget(const lt::sha1_hash& hash)
    {
        std::lock_guard lock(m_mutex);
        m_senders.erase(hash);
        m_setAside.erase(hash);
    }

    std::shared_ptr<lt::torrent_plugin> new_torrent(const lt::torrent_handle& torrent, lt::client_data_t) override
    {
        return std::make_shared<TorrentWitness>(*this, torrent.info_hashes().v1);
    }

private:
    // The library numbers its metadata messages 2 (the receiver's numbering is ours).
    static constexpr int metadataMessage = 2;

    class PeerWitness : public lt::peer_plugin {
    public:
        PeerWitness(MetadataWitness& witness, lt::sha1_hash hash, lt::peer_connection_handle peer)
            : m_witness(witness), m_hash(hash), m_peer(std::move(peer)) { }
        bool on_handshake(lt::span<const char>) override { return !m_witness.isSetAside(m_hash, m_peer.remote().address()); }
        bool on_extended(int length, int message, lt::span<const char> body) override
        {
            if (message != metadataMessage || length > 17 * 1024)
                return false;
            lt::error_code ec;
            auto decoded = lt::bdecode(body, ec);
            if (!ec && decoded.type() == lt::bdecode_node::dict_t && decoded.dict_find_int_value("msg_type", -1) == 1)
                m_witness.sent(m_hash, m_peer.remote().address());
            return false; // the library's own handler reads it
        }
        void tick() override
        {
            if (m_witness.isSetAside(m_hash, m_peer.remote().address()))
                m_peer.disconnect(lt::errors::banned_by_ip_filter, lt::operation_t::bittorrent);
        }

    private:
        MetadataWitness& m_witness;
        lt::sha1_hash m_hash;
        lt::peer_connection_handle m_peer;
    };

    class TorrentWitness : public lt::torrent_plugin {
    public:
        TorrentWitness(MetadataWitness& witness, lt::sha1_hash hash) : m_witness(witness), m_hash(hash) { }
        std::shared_ptr<lt::peer_plugin> new_connection(const lt::peer_connection_handle& peer) override
        {
            return std::make_shared<PeerWitness>(m_witness, m_hash, peer);
        }

    private:
        MetadataWitness& m_witness;
        lt::sha1_hash m_hash;
    };

    void sent(const lt::sha1_hash& hash, const lt::address& address)
    {
        std::lock_guard lock(m_mutex);
        m_senders[hash].insert(address);
    }
    bool isSetAside(const lt::sha1_hash& hash, const lt::address& address)
    {
        std::lock_guard lock(m_mutex);
        auto it = m_setAside.find(hash);
        return it != m_setAside.end() && it->second.contains(address);
    }

    std::mutex m_mutex;
    std::map<lt::sha1_hash, std::set<lt::address>> m_senders;
    std::map<lt::sha1_hash, std::set<lt::address>> m_setAside;
};

} // namespace

struct Session::Engine {
    Engine(lt::session_params&& params, std::shared_ptr<MetadataWitness> witness)
        : witness(std::move(witness))
        , session(std::move(params))
    {
    }
    std::shared_ptr<MetadataWitness> witness;
    lt::session session;
    // The torrent of each fetch that is in the library, by hash.
    std::map<std::string, lt::torrent_handle> torrents;
};

namespace {

// A routing table is a few hundred nodes: a file far larger is no state of ours.
constexpr std::uintmax_t maxStateFileSize = 1024 * 1024;
constexpr size_t maxBootstrapNodes = 32;
constexpr size_t maxSavedNodes = 256;
// Peers answering one node's lookup come in one alert each: room for a burst.
constexpr int alertQueueSize = 20000;
constexpr const char* metadataFolderPrefix = "metadata-";

std::string hexOf(const std::string& hash)
{
    return lt::aux::to_hex(hash);
}

lt::sha1_hash sha1Of(const std::string& hash)
{
    return lt::sha1_hash(hash.data());
}

std::optional<uint16_t> portOf(std::string_view text)
{
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > 65535)
        return std::nullopt;
    return uint16_t(value);
}

// "host:port" with a port from 1 to 65535 and a host of name characters only
// (the setting comes from the stored settings and is handed on in a list).
bool isNode(std::string_view node)
{
    auto colon = node.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    auto port = portOf(node.substr(colon + 1));
    if (!port || *port == 0)
        return false;
    for (char c : node.substr(0, colon)) {
        bool fits = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
        if (!fits)
            return false;
    }
    return true;
}

std::string trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return std::string(text);
}

std::optional<lt::tcp::endpoint> endpointOf(const Peer& peer)
{
    lt::error_code ec;
    auto address = lt::make_address_v4(peer.address, ec);
    if (ec || peer.port == 0 || address.is_unspecified() || address.is_multicast())
        return std::nullopt;
    return lt::tcp::endpoint(address, peer.port);
}

// A process killed while fetching leaves its private folder behind; only one
// service runs per device, so the next one removes them.
void removeLeftoverFolders(const std::string& stateFolder)
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(stateFolder, ec)) {
        auto name = entry.path().filename().string();
        if (name.starts_with(metadataFolderPrefix) && entry.is_directory(ec) && !entry.is_symlink(ec))
            std::filesystem::remove_all(entry.path(), ec);
    }
}

size_t threadCount()
{
    std::error_code ec;
    size_t count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/task", ec), end; !ec && it != end; it.increment(ec))
        ++count;
    return ec ? 0 : count;
}

// The library loads the system's certificate authorities into a TLS context
// of its own as it starts (0.9 MB of heap for Debian's bundle, measured with
// 2.0.8 on OpenSSL 3), for HTTPS trackers and web seeds: this node has
// neither, a fetch having no trackers and taking no payload. Told of an empty
// file it reads none. The environment is changed only while the process has
// one thread (the service's, when its node starts), since a thread reading it
// as a variable is added could read freed memory; putting it back, once the
// library's thread runs, frees nothing.
class WithoutCertificateFile {
public:
    WithoutCertificateFile()
    {
        if (threadCount() != 1)
            return;
        if (const char* old = std::getenv(variable))
            m_old = old;
        m_set = ::setenv(variable, "/dev/null", 1) == 0;
    }
    ~WithoutCertificateFile()
    {
        if (!m_set)
            return;
        if (m_old)
            ::setenv(variable, m_old->c_str(), 1);
        else
            ::unsetenv(variable);
    }
    WithoutCertificateFile(const WithoutCertificateFile&) = delete;
    WithoutCertificateFile& operator=(const WithoutCertificateFile&) = delete;

private:
    static constexpr const char* variable = "SSL_CERT_FILE";
    std::optional<std::string> m_old;
    bool m_set { false };
};

lt::session_params savedParams(const std::string& path)
{
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    if (ec)
        return {};
    if (size > maxStateFileSize) {
        kit::log("DHT: the saved routing table " + path + " is too large to be one; starting without it");
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty())
        return {};
    try {
        return lt::read_session_params(bytes, lt::session_handle::save_dht_state);
    } catch (const std::exception& e) {
        kit::log("DHT: the saved routing table " + path + " cannot be read (" + e.what() + "); starting without it");
        return {};
    }
}

} // namespace

kit::ErrorOr<std::unique_ptr<Session>> Session::start(const std::string& stateFolder, const std::string& bootstrap,
    const std::string& listenInterface, bool enabled)
{
    struct stat st {};
    if (::stat(stateFolder.c_str(), &st) != 0)
        return kit::Error::fromErrno("The DHT's folder " + stateFolder + " cannot be used");
    if (!S_ISDIR(st.st_mode))
        return kit::Error { "The DHT's folder " + stateFolder + " is not a folder." };

    auto colon = listenInterface.rfind(':');
    lt::error_code ec;
    lt::address listenAddress;
    if (colon != std::string::npos)
        listenAddress = lt::make_address_v4(listenInterface.substr(0, colon), ec);
    if (colon == std::string::npos || ec || !portOf(std::string_view(listenInterface).substr(colon + 1)))
        return kit::Error { "The DHT's listening address \"" + listenInterface + "\" is not an IPv4 address and port." };

    std::string nodes;
    size_t nodeCount = 0;
    std::string_view rest = bootstrap;
    while (!rest.empty()) {
        auto comma = rest.find(',');
        auto node = trimmed(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (node.empty())
            continue;
        if (!isNode(node)) {
            kit::log("DHT: the bootstrap node \"" + node + "\" is not a host and port; left out");
            continue;
        }
        if (++nodeCount > maxBootstrapNodes)
            break;
        nodes += (nodes.empty() ? "" : ",") + node;
    }

    auto params = savedParams(stateFolder + "/" + stateFileName);
    // The library bootstraps from its routers alone: the saved nodes are
    // handed to it as nodes once it runs (measured with 2.0.8).
    std::vector<lt::udp::endpoint> savedNodes = params.dht_state.nodes;
    if (savedNodes.size() > maxSavedNodes)
        savedNodes.resize(maxSavedNodes);
    lt::settings_pack& settings = params.settings;
    settings.set_str(lt::settings_pack::listen_interfaces, listenInterface);
    if (!listenAddress.is_unspecified())
        settings.set_str(lt::settings_pack::outgoing_interfaces, listenAddress.to_string());
    // Nothing of ours on the local network: the transfer client is the
    // peer people see, and the port is the router's to give.
    settings.set_bool(lt::settings_pack::enable_lsd, false);
    settings.set_bool(lt::settings_pack::enable_upnp, false);
    settings.set_bool(lt::settings_pack::enable_natpmp, false);
    // Metadata comes over TCP as well; uTP would only add a second socket kind.
    settings.set_bool(lt::settings_pack::enable_outgoing_utp, false);
    settings.set_bool(lt::settings_pack::enable_incoming_utp, false);
    // Turned off before it starts, it never bootstraps: turning it off later would come after the first packets.
    settings.set_bool(lt::settings_pack::enable_dht, enabled);
    settings.set_str(lt::settings_pack::dht_bootstrap_nodes, nodes);
    // A node that only asks (BEP 43): other nodes keep it out of their tables
    // and send it no queries, so it holds no one's announces.
    settings.set_bool(lt::settings_pack::dht_read_only, true);
    if (listenAddress.is_loopback()) {
        // Every node on loopback shares one /24: the one-node-per-network rule
        // would leave a single one in the table.
        settings.set_bool(lt::settings_pack::dht_restrict_routing_ips, false);
        settings.set_bool(lt::settings_pack::dht_restrict_search_ips, false);
    }
    settings.set_int(lt::settings_pack::max_metadata_size, maxMetadataSize);
    // Peers a fetch's torrent keeps, also those other peers tell it of.
    settings.set_int(lt::settings_pack::max_peerlist_size, int(maxPeersPerHash));
    settings.set_int(lt::settings_pack::alert_queue_size, alertQueueSize);
    settings.set_int(lt::settings_pack::alert_mask,
        int(lt::alert_category::error | lt::alert_category::status | lt::alert_category::dht | lt::alert_category::dht_operation));
    // A fetch never writes a byte of payload, whatever a torrent's flags say.
    params.disk_io_constructor = lt::disabled_disk_io_constructor;

    removeLeftoverFolders(stateFolder);
    std::string metadataFolder = stateFolder + "/" + metadataFolderPrefix + "XXXXXX";
    if (!::mkdtemp(metadataFolder.data()))
        return kit::Error::fromErrno("The DHT's private folder in " + stateFolder + " cannot be made");

    int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        std::error_code ignored;
        std::filesystem::remove_all(metadataFolder, ignored);
        return kit::Error::fromErrno("The DHT cannot be started");
    }
    // Ahead of the library's own metadata handler, which swallows its messages.
    auto witness = std::make_shared<MetadataWitness>();
    params.extensions.insert(params.extensions.begin(), witness);
    std::unique_ptr<Engine> engine;
    try {
        WithoutCertificateFile noAuthorities;
        engine = std::make_unique<Engine>(std::move(params), witness);
    } catch (const std::exception& e) {
        ::close(wakeFd);
        std::error_code ignored;
        std::filesystem::remove_all(metadataFolder, ignored);
        return kit::Error { std::string("The DHT cannot be started: ") + e.what() };
    }
    // On the library's thread: only wake the loop (it asks for no more).
    engine->session.set_alert_notify([wakeFd] {
        uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wakeFd, &one, sizeof one);
    });
    for (const auto& node : savedNodes)
        engine->session.add_dht_node({ node.address().to_string(), node.port() });
    auto session = std::unique_ptr<Session>(new Session(stateFolder, std::move(metadataFolder), std::move(engine), wakeFd));
    session->m_enabled = enabled;
    return session;
}

Session::Session(std::string stateFolder, std::string metadataFolder, std::unique_ptr<Engine> engine, int wakeFd)
    : m_stateFolder(std::move(stateFolder))
    , m_metadataFolder(std::move(metadataFolder))
    , m_engine(std::move(engine))
    , m_wakeFd(wakeFd)
    , m_alive(std::make_shared<bool>(true))
{
    m_wakeWatch = std::make_unique<kit::FdWatcher>(m_wakeFd, kit::FdWatcher::Read, [this](unsigned) {
        uint64_t count = 0;
        [[maybe_unused]] auto got = ::read(m_wakeFd, &count, sizeof count);
        handleAlerts();
    });
    m_refreshTimer = kit::Timer::scheduled(lookupInterval, true, [this](kit::Timer&) { refreshLookups(); });
    // Alerts posted before the notification was set wake nobody.
    kit::RunLoop::main().post([this, alive = std::weak_ptr<bool>(m_alive)] {
        if (!alive.expired())
            handleAlerts();
    });
}

Session::~Session()
{
    m_alive.reset();
    save();
    m_wakeWatch.reset();
    m_fetches.clear();
    // Waits for the library's threads: none may touch the descriptor after.
    m_engine.reset();
    ::close(m_wakeFd);
    std::error_code ec;
    std::filesystem::remove_all(m_metadataFolder, ec);
}

void Session::setEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    lt::settings_pack pack;
    pack.set_bool(lt::settings_pack::enable_dht, on);
    m_engine->session.apply_settings(std::move(pack));
    kit::log(on ? "DHT: on" : "DHT: off");
    refreshLookups();
}

void Session::getPeers(const std::string& infoHash, std::function<void(std::vector<Peer>)> found)
{
    if (infoHash.size() != 20)
        return;
    m_lookups[infoHash] = Lookup { {}, std::move(found), ++m_lookupOrder };
    if (m_lookups.size() > maxLookups) {
        auto oldest = m_lookups.begin();
        for (auto it = m_lookups.begin(); it != m_lookups.end(); ++it) {
            if (it->second.order < oldest->second.order)
                oldest = it;
        }
        m_lookups.erase(oldest);
    }
    if (m_enabled)
        m_engine->session.dht_get_peers(sha1Of(infoHash));
}

void Session::stopLookup(const std::string& infoHash)
{
    m_lookups.erase(infoHash);
}

void Session::announce(const std::string& infoHash, uint16_t port)
{
    if (infoHash.size() != 20 || port == 0 || !m_enabled)
        return;
    // No implied port: the nodes store the port named, not this node's.
    m_engine->session.dht_announce(sha1Of(infoHash), port, {});
}

size_t Session::nodeCount() const
{
    auto state = m_engine->session.session_state(lt::session_handle::save_dht_state);
    return state.dht_state.nodes.size() + state.dht_state.nodes6.size();
}

uint16_t Session::listenPort() const
{
    return m_engine->session.listen_port();
}

void Session::save()
{
    auto state = m_engine->session.session_state(lt::session_handle::save_dht_state);
    // With the DHT off (or not yet in) the table is empty: the last saved one
    // is better for the next start.
    if (state.dht_state.nodes.empty() && state.dht_state.nodes6.empty())
        return;
    auto bytes = lt::write_session_params_buf(state, lt::session_handle::save_dht_state);
    auto path = m_stateFolder + "/" + stateFileName;
    auto written = kit::writeFileAtomically(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), kit::FileAccess::Private);
    if (!written)
        kit::log("DHT: the routing table cannot be saved: " + written.error().message);
}

Session::FetchId Session::fetchMetadata(const std::string& infoHash, std::vector<Peer> peers,
    std::function<void(size_t peerCount)> onPeers, std::function<void(kit::ErrorOr<std::string> info)> done)
{
    FetchId id = m_nextFetch++;
    auto refuse = [&](std::string why) {
        kit::RunLoop::main().post([this, alive = std::weak_ptr<bool>(m_alive), id, why = std::move(why), done = std::move(done)] {
            if (alive.expired() || !m_refused.erase(id))
                return;
            done(kit::Error { why });
        });
        m_refused.insert(id);
        return id;
    };
    if (infoHash.size() != 20)
        return refuse("The info-hash is not 20 bytes long.");
    if (fetchForHash(infoHash))
        return refuse("The metadata of this torrent is being fetched already.");
    if (m_fetches.size() >= maxFetches)
        return refuse("Too many metadata fetches at once (at most " + std::to_string(maxFetches) + ").");

    auto& fetch = m_fetches[id];
    fetch.infoHash = infoHash;
    fetch.onPeers = std::move(onPeers);
    fetch.done = std::move(done);
    for (const auto& peer : peers) {
        if (fetch.peers.size() < maxPeersPerHash && endpointOf(peer))
            fetch.peers.insert(peer);
    }
    kit::log("DHT: fetching the metadata of " + hexOf(infoHash));
    if (!m_removing.contains(infoHash))
        addTorrent(id, fetch);
    if (!m_fetches.contains(id))
        return id; // refused by the library, its answer on the way
    if (m_enabled)
        lookUpForFetch(infoHash);
    // The count the fetch starts with, told as any later one: after this returns.
    kit::RunLoop::main().post([this, alive = std::weak_ptr<bool>(m_alive), id] {
        if (alive.expired())
            return;
        auto it = m_fetches.find(id);
        if (it != m_fetches.end() && it->second.onPeers) {
            auto onPeers = it->second.onPeers;
            onPeers(it->second.peers.size());
        }
    });
    return id;
}

void Session::addPeers(FetchId id, const std::vector<Peer>& peers)
{
    auto it = m_fetches.find(id);
    if (it == m_fetches.end())
        return;
    connectPeers(it->second, peers);
}

void Session::cancel(FetchId id)
{
    m_refused.erase(id);
    auto it = m_fetches.find(id);
    if (it == m_fetches.end())
        return;
    auto hash = it->second.infoHash;
    bool added = it->second.added;
    m_fetches.erase(it);
    if (added)
        removeTorrent(hash);
    kit::log("DHT: the metadata fetch of " + hexOf(hash) + " was cancelled");
}

void Session::addTorrent(FetchId id, Fetch& fetch)
{
    lt::add_torrent_params params;
    params.info_hashes.v1 = sha1Of(fetch.infoHash);
    params.save_path = m_metadataFolder;
    // Metadata alone: no payload asked for, no announce of the library's own
    // port on the DHT or the local network; running at once (the defaults
    // leave it paused and queued).
    params.flags |= lt::torrent_flags::upload_mode | lt::torrent_flags::disable_dht | lt::torrent_flags::disable_lsd;
    params.flags &= ~(lt::torrent_flags::auto_managed | lt::torrent_flags::paused);
    lt::error_code ec;
    auto handle = m_engine->session.add_torrent(std::move(params), ec);
    if (ec) {
        auto hash = fetch.infoHash;
        auto done = std::move(fetch.done);
        m_fetches.erase(id);
        m_refused.insert(id);
        kit::RunLoop::main().post([this, alive = std::weak_ptr<bool>(m_alive), id, why = ec.message(), done = std::move(done)] {
            if (alive.expired() || !m_refused.erase(id))
                return;
            done(kit::Error { "The metadata cannot be fetched: " + why + "." });
        });
        kit::log("DHT: the metadata of " + hexOf(hash) + " cannot be fetched: " + ec.message());
        return;
    }
    m_engine->torrents[fetch.infoHash] = handle;
    fetch.added = true;
    for (const auto& peer : fetch.peers) {
        auto endpoint = endpointOf(peer);
        if (endpoint && !fetch.setAside.contains(peer.address))
            handle.connect_peer(*endpoint);
    }
}

void Session::removeTorrent(const std::string& infoHash)
{
    if (!fetchForHash(infoHash))
        m_engine->witness->forget(sha1Of(infoHash));
    auto it = m_engine->torrents.find(infoHash);
    if (it == m_engine->torrents.end())
        return;
    m_engine->session.remove_torrent(it->second);
    m_engine->torrents.erase(it);
    m_removing.insert(infoHash);
}

std::vector<Peer> Session::peersFromDht(FetchId id) const
{
    auto it = m_fetches.find(id);
    return it == m_fetches.end() ? std::vector<Peer> {} : std::vector<Peer>(it->second.fromDht.begin(), it->second.fromDht.end());
}

void Session::connectPeers(Fetch& fetch, const std::vector<Peer>& peers, bool fromDht)
{
    size_t before = fetch.peers.size();
    auto torrent = m_engine->torrents.find(fetch.infoHash);
    for (const auto& peer : peers) {
        if (fetch.peers.size() >= maxPeersPerHash)
            break;
        auto endpoint = endpointOf(peer);
        if (!endpoint || !fetch.peers.insert(peer).second)
            continue;
        if (fromDht)
            fetch.fromDht.insert(peer);
        if (fetch.added && torrent != m_engine->torrents.end() && !fetch.setAside.contains(peer.address))
            torrent->second.connect_peer(*endpoint);
    }
    if (fetch.peers.size() != before && fetch.onPeers) {
        auto onPeers = fetch.onPeers;
        onPeers(fetch.peers.size());
    }
}

void Session::refreshLookups()
{
    if (!m_enabled)
        return;
    for (const auto& [hash, lookup] : m_lookups)
        m_engine->session.dht_get_peers(sha1Of(hash));
    for (const auto& [id, fetch] : m_fetches)
        lookUpForFetch(fetch.infoHash);
}

void Session::lookUpForFetch(const std::string& infoHash)
{
    m_engine->session.dht_get_peers(sha1Of(infoHash));
}

Session::Fetch* Session::fetchForHash(const std::string& infoHash, FetchId* id)
{
    for (auto& [fetchId, fetch] : m_fetches) {
        if (fetch.infoHash == infoHash) {
            if (id)
                *id = fetchId;
            return &fetch;
        }
    }
    return nullptr;
}

void Session::handleAlerts()
{
    std::vector<lt::alert*> alerts;
    m_engine->session.pop_alerts(&alerts);
    // A callback may let the session go, and the alerts with it.
    std::weak_ptr<bool> alive = m_alive;
    for (auto* alert : alerts) {
        if (alive.expired())
            return;
        if (auto* reply = lt::alert_cast<lt::dht_get_peers_reply_alert>(alert)) {
            std::vector<Peer> peers;
            for (const auto& endpoint : reply->peers()) {
                // The transfer client speaks IPv4 alone.
                if (endpoint.address().is_v4() && endpoint.port() != 0)
                    peers.push_back({ endpoint.address().to_string(), endpoint.port() });
            }
            if (!peers.empty())
                deliverPeers(reply->info_hash.to_string(), std::move(peers));
        } else if (auto* received = lt::alert_cast<lt::metadata_received_alert>(alert)) {
            auto hash = received->handle.info_hashes().v1.to_string();
            auto info = received->handle.torrent_file();
            if (info)
                metadataReceived(hash, std::string(info->info_section().data(), size_t(info->info_section().size())));
        } else if (auto* failed = lt::alert_cast<lt::metadata_failed_alert>(alert)) {
            metadataFailed(failed->handle.info_hashes().v1.to_string());
        } else if (auto* removed = lt::alert_cast<lt::torrent_removed_alert>(alert)) {
            torrentRemoved(removed->info_hashes.v1.to_string());
        } else if (auto* listening = lt::alert_cast<lt::listen_succeeded_alert>(alert)) {
            if (listening->socket_type == lt::socket_type_t::tcp)
                kit::log("DHT: listening on " + listening->address.to_string() + ":" + std::to_string(listening->port));
        } else if (auto* notListening = lt::alert_cast<lt::listen_failed_alert>(alert)) {
            kit::log("DHT: cannot listen on " + notListening->address.to_string() + ":" + std::to_string(notListening->port)
                + ": " + notListening->error.message());
        } else if (lt::alert_cast<lt::dht_bootstrap_alert>(alert)) {
            kit::log("DHT: bootstrapped");
            // Lookups asked for before the node was up went nowhere.
            refreshLookups();
        } else if (auto* dhtError = lt::alert_cast<lt::dht_error_alert>(alert)) {
            kit::log("DHT: " + dhtError->error.message());
        }
    }
}

void Session::deliverPeers(const std::string& infoHash, std::vector<Peer> peers)
{
    std::weak_ptr<bool> alive = m_alive;
    if (auto* fetch = fetchForHash(infoHash))
        connectPeers(*fetch, peers, true);
    if (alive.expired())
        return;
    auto lookup = m_lookups.find(infoHash);
    if (lookup == m_lookups.end() || !lookup->second.found)
        return;
    std::vector<Peer> fresh;
    for (auto& peer : peers) {
        if (lookup->second.reported.size() >= maxPeersPerHash)
            break;
        if (lookup->second.reported.insert(peer).second)
            fresh.push_back(std::move(peer));
    }
    if (fresh.empty())
        return;
    auto found = lookup->second.found;
    found(std::move(fresh));
}

void Session::metadataReceived(const std::string& infoHash, std::string info)
{
    FetchId id = 0;
    auto* fetch = fetchForHash(infoHash, &id);
    if (!fetch || !fetch->added)
        return;
    // The library checked it; a second look costs a hash of a few MiB at most.
    if (lt::hasher(info.data(), int(info.size())).final().to_string() != infoHash) {
        metadataFailed(infoHash);
        return;
    }
    auto done = std::move(fetch->done);
    m_fetches.erase(id);
    removeTorrent(infoHash);
    kit::log("DHT: the metadata of " + hexOf(infoHash) + " is in (" + std::to_string(info.size()) + " bytes)");
    if (done)
        done(std::move(info));
}

void Session::metadataFailed(const std::string& infoHash)
{
    auto* fetch = fetchForHash(infoHash);
    if (!fetch || !fetch->added)
        return;
    auto senders = m_engine->witness->take(sha1Of(infoHash));
    // A lone sender lied. Where several sent parts, any may have: each is
    // set aside at its second such failure.
    for (const auto& address : senders) {
        auto text = address.to_string();
        if (senders.size() == 1 || ++fetch->strikes[text] >= 2) {
            fetch->setAside.insert(text);
            m_engine->witness->setAside(sha1Of(infoHash), address);
        }
    }
    // The library asks the others by itself once the liar is gone (measured
    // with 2.0.8: also after a liar that named another size).
    kit::log("DHT: " + std::to_string(senders.size()) + " peer(s) sent metadata of " + hexOf(infoHash)
        + " that fails its hash check; " + std::to_string(fetch->setAside.size()) + " set aside, asking the others");
}

void Session::torrentRemoved(const std::string& infoHash)
{
    m_removing.erase(infoHash);
    FetchId id = 0;
    auto* fetch = fetchForHash(infoHash, &id);
    if (fetch && !fetch->added)
        addTorrent(id, *fetch);
}

} // namespace dht
