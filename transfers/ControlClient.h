#pragma once
// One transfer client known on the control channel (ControlServer.h): its
// identity, what it last reported, and the commands it takes. The server
// makes it once a connection has given the right password and said which
// client it is; a client that reconnects (same peer id and start time) gets
// the same object back while anyone still holds it, and is sent again the
// limits and pause set through it.
//
// Every command line is built here from fixed words and checked numbers, so
// nothing a person typed reaches the client unchecked; a command with a value
// out of range is not sent and returns false (logged). Never sent: the
// command that moves a client to another server, and the restart command.
//
// Main run loop only. Callbacks are called on the loop, never from inside a
// command; a callback may let go of the client.
#include "torrent/TorrentContents.h"
#include "transfers/ControlReports.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kit {
class LineConnection;
}
class ControlServer;

// What the last report was, for onReport.
enum class ControlReport { Status, Bandwidth, Info, Detail, Peers };

class ControlClient : public std::enable_shared_from_this<ControlClient> {
public:
    static constexpr long long maxRate = 1LL << 30;    // bytes/s, for limits
    static constexpr int maxSeedHours = 24 * 365 * 10; // ten years
    static constexpr double maxSeedRatio = 10000;
    static constexpr int maxFileNumber = 1 << 20;
    static constexpr size_t keptInfos = 8;
    // No more files than a .torrent the application accepts may list.
    static constexpr size_t maxFiles = torrent::maxFileCount;
    static constexpr size_t maxPeers = 10000;

    ~ControlClient();
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    const std::string& peerId() const { return m_identity.peerId; }
    long long startTime() const { return m_identity.start; }
    const std::string& torrentPath() const { return m_identity.torrentPath; }
    // peerId + " " + start: stable across the client's reconnects.
    std::string key() const { return keyOf(m_identity); }
    static std::string keyOf(const ClientIdentity& identity) { return identity.peerId + " " + std::to_string(identity.start); }
    // Where it connects from ("127.0.0.1"; a tunnel looks the same).
    const std::string& address() const { return m_address; }
    bool isConnected() const;
    // Run-loop time of its last line.
    double lastHeard() const { return m_lastHeard; }

    const std::optional<ClientStatus>& status() const { return m_status; }
    // From CTBW, or the last status, whichever came later.
    const std::optional<ClientBandwidth>& bandwidth() const { return m_bandwidth; }
    // Its last detail; the files it listed are in files(), not in the detail.
    const std::optional<ClientDetail>& detail() const { return m_detail; }
    // The files of the last detail, shared with whoever reads them (the
    // transfers' snapshots), so that a large torrent's files are held once.
    // None before the first list.
    std::shared_ptr<const std::vector<ClientFile>> files() const { return m_files; }
    size_t fileCount() const { return m_files ? m_files->size() : 0; }
    // Counts the file lists received, so that a reader takes a list only when it is new.
    uint64_t detailVersion() const { return m_detailVersion; }
    const std::vector<ClientPeer>& peers() const { return m_peers; }
    // Its last CTINFO texts (keptInfos at most), newest last.
    const std::vector<std::string>& infos() const { return m_infos; }
    ControlReport lastReport() const { return m_lastReport; }

    // Each returns whether the line went out.
    bool askStatus();
    bool askDetail();
    bool askPeers();
    // Bytes per second, 0 for none, at most maxRate.
    bool setDownloadLimit(long long bytesPerSecond);
    bool setUploadLimit(long long bytesPerSecond);
    bool setPaused(bool paused);
    // The files to fetch, numbered from 1 as in detail(). Empty: every file
    // (the client cannot be told to fetch none; pause it instead). The client
    // fetches the chosen files in groups, in the order of their numbers.
    bool setFiles(const std::vector<int>& numbers);
    // Seeding after completion: hours (0: stop at once), or an upload ratio.
    bool setSeedTime(int hours);
    bool setSeedRatio(double ratio);
    // A tracker announce now; quit: a last status, a goodbye to the tracker, exit.
    bool announce();
    bool quit();

    // A status, detail, peers, bandwidth or info line arrived (lastReport says which).
    std::function<void(ControlClient&)> onReport;
    // Its connection ended (the client quit, died or was closed for a fault).
    std::function<void(ControlClient&)> onClosed;

    // The line a command sends, or none when a value is out of range (tests
    // and the log see exactly what goes out).
    static std::optional<std::string> limitLine(bool download, long long bytesPerSecond);
    static std::optional<std::string> filesLine(const std::vector<int>& numbers);
    static std::optional<std::string> seedTimeLine(int hours);
    static std::optional<std::string> seedRatioLine(double ratio);

private:
    friend class ControlServer;
    struct Private { explicit Private() = default; };

public:
    ControlClient(Private, std::weak_ptr<ControlServer> server, ClientIdentity identity);

private:
    // Takes over a new connection (the first, or a reconnection).
    void attach(const std::shared_ptr<kit::LineConnection>& connection, ClientIdentity identity);
    void lineReceived(const std::string& line);
    void connectionClosed(const std::string& reason);
    bool send(const std::string& line);
    bool refuse(const std::string& what);
    void report(ControlReport kind);
    void malformed(const std::string& line);

    std::weak_ptr<ControlServer> m_server;
    ClientIdentity m_identity;
    std::string m_address;
    std::shared_ptr<kit::LineConnection> m_connection;
    double m_lastHeard { 0 };
    bool m_malformedLogged { false };

    std::optional<ClientStatus> m_status;
    std::optional<ClientBandwidth> m_bandwidth;
    std::optional<ClientDetail> m_detail;
    std::shared_ptr<std::vector<ClientFile>> m_files;
    uint64_t m_detailVersion { 0 };
    std::vector<ClientPeer> m_peers;
    std::vector<std::string> m_infos;
    ControlReport m_lastReport { ControlReport::Status };

    // A detail or peer list being received.
    std::optional<ClientDetail> m_pendingDetail;
    std::shared_ptr<std::vector<ClientFile>> m_pendingFiles;
    bool m_filesOpen { false };
    size_t m_filesRead { 0 };
    std::optional<std::vector<ClientPeer>> m_pendingPeers;

    // Sent again on a reconnection.
    std::optional<long long> m_downLimit, m_upLimit;
    std::optional<bool> m_paused;
};
