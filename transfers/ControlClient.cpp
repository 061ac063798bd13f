#include "transfers/ControlClient.h"

#include "kit/core/Log.h"
#include "kit/core/RunLoop.h"
#include "kit/net/LineServer.h"
#include "transfers/ControlServer.h"

#include <algorithm>
#include <cmath>

namespace {

// Below this the client's averaging stalls the transfer rather than slowing it.
constexpr long long smallestLimit = 1024;

} // namespace

ControlClient::ControlClient(Private, std::weak_ptr<ControlServer> server, ClientIdentity identity)
    : m_server(std::move(server))
    , m_identity(std::move(identity))
{
}

ControlClient::~ControlClient()
{
    if (m_connection)
        m_connection->close();
}

bool ControlClient::isConnected() const
{
    return m_connection && m_connection->isOpen();
}

void ControlClient::attach(const std::shared_ptr<kit::LineConnection>& connection, ClientIdentity identity)
{
    m_identity = std::move(identity);
    m_connection = connection;
    m_address = connection->peerAddress();
    m_lastHeard = kit::RunLoop::main().now();
    m_malformedLogged = false;
    m_pendingDetail.reset();
    m_filesOpen = false;
    m_pendingPeers.reset();
    std::weak_ptr<ControlClient> weak = weak_from_this();
    connection->onLine = [weak](kit::LineConnection&, const std::string& line) {
        if (auto self = weak.lock())
            self->lineReceived(line);
    };
    connection->onClosed = [weak](kit::LineConnection&, const std::string& reason) {
        if (auto self = weak.lock())
            self->connectionClosed(reason);
    };
    // The client keeps what it was told across a reconnection, but one that
    // was told while the connection was going down may not have heard it.
    if (m_downLimit)
        setDownloadLimit(*m_downLimit);
    if (m_upLimit)
        setUploadLimit(*m_upLimit);
    if (m_paused)
        setPaused(*m_paused);
}

void ControlClient::connectionClosed(const std::string& reason)
{
    auto self = shared_from_this();
    uint64_t id = m_connection ? m_connection->id() : 0;
    m_connection.reset();
    m_pendingDetail.reset();
    m_filesOpen = false;
    m_pendingPeers.reset();
    kit::log("Control channel: client " + m_identity.peerId + " is gone (" + reason + ")");
    if (auto server = m_server.lock())
        server->clientClosed(id);
    if (auto callback = onClosed)
        callback(*this);
}

void ControlClient::lineReceived(const std::string& line)
{
    m_lastHeard = kit::RunLoop::main().now();
    size_t space = line.find(' ');
    std::string_view word = std::string_view(line).substr(0, space);
    std::string_view fields = space == std::string::npos ? std::string_view() : std::string_view(line).substr(space + 1);

    if (word == "CTSTATUS") {
        auto status = ControlReports::status(fields);
        if (!status)
            return malformed(line);
        m_status = *status;
        m_bandwidth = ClientBandwidth { status->downRate, status->upRate, status->downLimit, status->upLimit };
        report(ControlReport::Status);
    } else if (word == "CTBW") {
        auto bandwidth = ControlReports::bandwidth(fields);
        if (!bandwidth)
            return malformed(line);
        m_bandwidth = *bandwidth;
        if (m_status) {
            m_status->downRate = bandwidth->downRate;
            m_status->upRate = bandwidth->upRate;
            m_status->downLimit = bandwidth->downLimit;
            m_status->upLimit = bandwidth->upLimit;
        }
        report(ControlReport::Bandwidth);
    } else if (word == "CTINFO") {
        auto info = ControlReports::info(fields);
        if (!info)
            return malformed(line);
        m_infos.push_back(info->text);
        if (m_infos.size() > keptInfos)
            m_infos.erase(m_infos.begin());
        report(ControlReport::Info);
    } else if (word == "CTDETAIL") {
        auto detail = ControlReports::detail(fields);
        if (!detail)
            return malformed(line);
        m_pendingDetail = std::move(*detail);
        m_pendingFiles.reset();
        m_filesOpen = false;
        m_filesRead = 0;
    } else if (word == "CTFILESTART") {
        if (!m_pendingDetail || m_filesOpen)
            return malformed(line);
        m_filesOpen = true;
    } else if (word == "CTFILE") {
        auto file = ControlReports::file(fields);
        if (!m_filesOpen || !file)
            return malformed(line);
        if (m_filesRead >= maxFiles) {
            // A list cut short would say files are missing: drop it whole.
            m_pendingDetail.reset();
            m_pendingFiles.reset();
            m_detail.reset();
            m_files.reset();
            ++m_detailVersion;
            m_filesOpen = false;
            return malformed(line);
        }
        if (!m_pendingFiles) {
            // A new list is written over the last one in place while no one
            // else holds it, so that a large torrent's files are never held
            // twice; a list a reader holds stays as it was.
            m_pendingFiles = m_files && m_files.use_count() == 1 ? m_files : std::make_shared<std::vector<ClientFile>>();
        }
        auto& files = *m_pendingFiles;
        if (m_filesRead < files.size())
            files[m_filesRead] = std::move(*file);
        else
            files.push_back(std::move(*file));
        ++m_filesRead;
    } else if (word == "CTFILESDONE") {
        if (!m_filesOpen)
            return malformed(line);
        if (!m_pendingFiles)
            m_pendingFiles = std::make_shared<std::vector<ClientFile>>();
        m_pendingFiles->resize(m_filesRead);
        m_pendingDetail->files.clear();
        m_files = std::move(m_pendingFiles);
        m_detail = std::move(m_pendingDetail);
        ++m_detailVersion;
        m_pendingDetail.reset();
        m_filesOpen = false;
        report(ControlReport::Detail);
    } else if (word == "CTPEERSTART") {
        m_pendingPeers.emplace();
    } else if (word == "CTPEER") {
        auto peer = ControlReports::peer(fields);
        if (!m_pendingPeers || !peer)
            return malformed(line);
        if (m_pendingPeers->size() < maxPeers)
            m_pendingPeers->push_back(std::move(*peer));
    } else if (word == "CTPEERSDONE") {
        if (!m_pendingPeers)
            return malformed(line);
        m_peers = std::move(*m_pendingPeers);
        m_pendingPeers.reset();
        report(ControlReport::Peers);
    }
    // Anything else (its settings, which are never asked for; words of later
    // versions) is not ours to read.
}

void ControlClient::report(ControlReport kind)
{
    m_lastReport = kind;
    auto self = shared_from_this();
    if (auto callback = onReport)
        callback(*this);
}

void ControlClient::malformed(const std::string& line)
{
    if (m_malformedLogged)
        return;
    m_malformedLogged = true;
    kit::log("Control channel: ignored a line from client " + m_identity.peerId
        + " that could not be read: " + ControlReports::printable(line, 80));
}

bool ControlClient::send(const std::string& line)
{
    if (!isConnected())
        return false;
    auto sent = m_connection->send(line);
    if (sent.isError()) {
        kit::log("Control channel: not sent to client " + m_identity.peerId + ": " + sent.error().message);
        return false;
    }
    return true;
}

bool ControlClient::refuse(const std::string& what)
{
    kit::log("Control channel: " + what + " is out of range; not sent to client " + m_identity.peerId);
    return false;
}

bool ControlClient::askStatus() { return send("SENDSTATUS"); }
bool ControlClient::askDetail() { return send("SENDDETAIL"); }
bool ControlClient::askPeers() { return send("SENDPEERS"); }
bool ControlClient::announce() { return send("CTUPDATE"); }
bool ControlClient::quit() { return send("CTQUIT"); }

std::optional<std::string> ControlClient::limitLine(bool download, long long bytesPerSecond)
{
    if (bytesPerSecond < 0 || bytesPerSecond > maxRate)
        return std::nullopt;
    if (bytesPerSecond > 0)
        bytesPerSecond = std::max(bytesPerSecond, smallestLimit);
    return std::string(download ? "SETDLIMIT " : "SETULIMIT ") + std::to_string(bytesPerSecond);
}

bool ControlClient::setDownloadLimit(long long bytesPerSecond)
{
    auto line = limitLine(true, bytesPerSecond);
    if (!line)
        return refuse("a download limit of " + std::to_string(bytesPerSecond) + " bytes/s");
    m_downLimit = bytesPerSecond;
    return send(*line);
}

bool ControlClient::setUploadLimit(long long bytesPerSecond)
{
    auto line = limitLine(false, bytesPerSecond);
    if (!line)
        return refuse("an upload limit of " + std::to_string(bytesPerSecond) + " bytes/s");
    m_upLimit = bytesPerSecond;
    return send(*line);
}

bool ControlClient::setPaused(bool paused)
{
    m_paused = paused;
    return send(paused ? "CTCONFIG pause 1" : "CTCONFIG pause 0");
}

std::optional<std::string> ControlClient::filesLine(const std::vector<int>& numbers)
{
    // The client's -n list: numbers and ranges joined by commas. An empty
    // value (the space stays: without it the client calls the line
    // malformed) is what it holds when started without one: every file.
    std::string line = "CTCONFIG file_list ";
    std::vector<int> sorted = numbers;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (size_t i = 0; i < sorted.size();) {
        if (sorted[i] < 1 || sorted[i] > maxFileNumber)
            return std::nullopt;
        size_t j = i;
        while (j + 1 < sorted.size() && sorted[j + 1] == sorted[j] + 1)
            ++j;
        if (i > 0)
            line += ',';
        line += std::to_string(sorted[i]);
        if (j > i)
            line += '-' + std::to_string(sorted[j]);
        i = j + 1;
    }
    if (line.size() > kit::LineServer::maxSendLength)
        return std::nullopt;
    return line;
}

bool ControlClient::setFiles(const std::vector<int>& numbers)
{
    auto line = filesLine(numbers);
    bool known = !m_files || std::all_of(numbers.begin(), numbers.end(), [&](int n) { return n <= int(m_files->size()); });
    if (!line || !known)
        return refuse("a file list of " + std::to_string(numbers.size()) + " numbers");
    return send(*line);
}

std::optional<std::string> ControlClient::seedTimeLine(int hours)
{
    if (hours < 0 || hours > maxSeedHours)
        return std::nullopt;
    return "CTCONFIG seed_time " + std::to_string(hours);
}

bool ControlClient::setSeedTime(int hours)
{
    auto line = seedTimeLine(hours);
    if (!line)
        return refuse("a seeding time of " + std::to_string(hours) + " hours");
    return send(*line);
}

std::optional<std::string> ControlClient::seedRatioLine(double ratio)
{
    if (!(ratio >= 0 && ratio <= maxSeedRatio))
        return std::nullopt;
    // Written by hand: the C library's number formatting follows the locale
    // (a window shell sets it), and the client wants a point.
    long long hundredths = std::llround(ratio * 100);
    std::string fraction = std::to_string(hundredths % 100);
    return "CTCONFIG seed_ratio " + std::to_string(hundredths / 100) + "." + (fraction.size() < 2 ? "0" : "") + fraction;
}

bool ControlClient::setSeedRatio(double ratio)
{
    auto line = seedRatioLine(ratio);
    if (!line)
        return refuse("a seeding ratio");
    return send(*line);
}
