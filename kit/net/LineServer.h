#pragma once
// A server of text lines on loopback: it listens on 127.0.0.1, accepts
// connections and hands each one's lines to its owner, on the main run loop.
// It is built for peers that may be careless or hostile, so every bound is
// its own and none depends on the peer:
//
// - Accepts and reads never block. A line ends in "\n" (a "\r" before it is
//   dropped); a line longer than maxLineLength closes its connection.
// - At most maxConnections are open at once; further ones are closed as they
//   come, and logged once per burst, not per connection.
// - Output is buffered and written as the peer takes it; a peer whose unsent
//   output passes maxUnsent is closed (it does not read).
// - A line to send must be short (maxSendLength) and printable ASCII: no NUL,
//   no control character, no line break. Anything else is refused, not sent.
//
// Ownership: the server owns its connections; the owner keeps a connection
// as long as it wants to talk to it (a closed one refuses to send). Callbacks
// are the owner's std::functions; none is called once the server (for
// onConnection) or the connection (for onLine, onClosed) has been destroyed
// or closed by the owner. Destroying the server closes every connection.
#include "kit/core/ErrorOr.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <optional>
#include <string_view>
#include <netinet/in.h>
#include <sys/types.h>

namespace kit {

class FdWatcher;
class LineServer;

// Whether the peer's end of the TCP connection between localEnd (ours) and
// peerEnd, both on loopback, is held by process pid or one of its
// descendants (as /proc tells, for processes of this user).
bool connectionComesFrom(pid_t pid, const sockaddr_in& localEnd, const sockaddr_in& peerEnd);

class LineConnection : public std::enable_shared_from_this<LineConnection> {
public:
    ~LineConnection();
    LineConnection(const LineConnection&) = delete;
    LineConnection& operator=(const LineConnection&) = delete;

    // Distinct for each connection a server accepted.
    uint64_t id() const { return m_id; }
    // The peer's address as text ("127.0.0.1") and its port.
    const std::string& peerAddress() const { return m_peerAddress; }
    uint16_t peerPort() const { return m_peerPort; }
    // Whether the peer's end of this connection is held by process pid or
    // one of its descendants (as /proc tells, for processes of this user).
    bool comesFrom(pid_t pid) const;
    bool isOpen() const { return m_fd >= 0; }
    size_t unsentBytes() const { return m_out.size(); }

    // Queues the line (without its "\n") and writes what the peer takes now.
    // Refused, with the reason, when the line is too long or not printable
    // ASCII, or the connection is closed.
    ErrorOr<void> send(std::string_view line);
    // Closes now, dropping unsent output; onClosed is not called.
    void close();

    // A whole line arrived (without "\r\n").
    std::function<void(LineConnection&, const std::string& line)> onLine;
    // The connection ended by itself or was closed for breaking a bound; the
    // reason in words ("closed by the peer", "a line longer than 4096 bytes").
    std::function<void(LineConnection&, const std::string& reason)> onClosed;

private:
    friend class LineServer;
    struct Private { explicit Private() = default; };

public:
    LineConnection(Private, std::weak_ptr<LineServer> server, uint64_t id, int fd, std::string peerAddress, uint16_t peerPort);

private:
    void start();
    // Reads one chunk; false once nothing waits or the connection closed.
    bool readChunk();
    void readWaiting();
    void writeReady();
    void flush();
    void fail(const std::string& reason);
    void closeSocket();

    std::weak_ptr<LineServer> m_server;
    uint64_t m_id;
    int m_fd;
    std::string m_peerAddress;
    uint16_t m_peerPort { 0 };
    std::string m_in;
    std::string m_out;
    std::unique_ptr<FdWatcher> m_readWatch;
    std::unique_ptr<FdWatcher> m_writeWatch;
};

class LineServer : public std::enable_shared_from_this<LineServer> {
public:
    static constexpr size_t maxLineLength = 4096;
    static constexpr size_t maxConnections = 64;
    static constexpr size_t maxSendLength = 1024;
    static constexpr size_t maxUnsent = 64 * 1024;
    // onClosed's reason when the peer ended the connection.
    static constexpr const char* peerClosedReason = "closed by the peer";

    // Listens on 127.0.0.1 at port (0: any free one). A port that another
    // program holds is an error in the system's words.
    static ErrorOr<std::shared_ptr<LineServer>> listen(uint16_t port);
    // Serves on a listening socket made elsewhere (handed over by another
    // process); it must listen on 127.0.0.1. The server takes the descriptor.
    static ErrorOr<std::shared_ptr<LineServer>> adopt(int listeningSocket);
    // The user of whoever listens on port at 127.0.0.1 (or on every address),
    // as /proc tells; nothing when none is seen.
    static std::optional<uid_t> listenerUser(uint16_t port);
    static uid_t ownUser();
    // The listening socket, for handing a copy of it to another process.
    int listeningSocket() const { return m_fd; }
    ~LineServer();
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    uint16_t port() const { return m_port; }
    size_t connectionCount() const { return m_connections.size(); }
    // Connections closed at once because maxConnections were open.
    uint64_t refusedCount() const { return m_refused; }

    // A connection was accepted; set its onLine and onClosed here.
    std::function<void(const std::shared_ptr<LineConnection>&)> onConnection;

    // Whether line may be sent; the reason when not.
    static ErrorOr<void> checkLine(std::string_view line);

    // Lines are read as they arrive (the default), or only when readWaiting()
    // is called: for peers whose lines nobody needs at once, so that their
    // writes do not wake the run loop. Connections are still accepted as they
    // come. Going back to reading as they arrive reads what waits first.
    void setReadsOnDemand(bool onDemand);
    bool readsOnDemand() const { return m_readsOnDemand; }
    // Reads what every connection has waiting now; a closed peer is seen here too.
    void readWaiting();

private:
    friend class LineConnection;
    struct Private { explicit Private() = default; };

public:
    LineServer(Private, int fd, uint16_t port);

private:
    void acceptReady();
    void refuse(int fd);
    void forget(uint64_t id);

    int m_fd;
    int m_spareFd { -1 };
    uint16_t m_port;
    uint64_t m_nextId { 1 };
    uint64_t m_refused { 0 };
    bool m_full { false };
    bool m_readsOnDemand { false };
    std::unique_ptr<FdWatcher> m_acceptWatch;
    std::map<uint64_t, std::shared_ptr<LineConnection>> m_connections;
};

} // namespace kit
