#pragma once
// A channel between this user's own processes on one machine: a Unix stream
// socket in the user's private runtime folder, carrying whole messages
// (a 4-byte big-endian length, then the bytes). Both ends check that the
// other runs as the same user (SO_PEERCRED), and every bound is fixed: a
// message longer than maxMessage, or more than maxUnsent bytes waiting for
// a peer that does not read, closes the connection rather than growing.
//
// Callbacks run on the main run loop; a connection may be closed (and its
// owner let go of it) from inside any of them.
#include "kit/core/ErrorOr.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <sys/un.h>
#include <vector>

namespace kit {

class FdWatcher;

// The address of a Unix socket at `path`; false when the path does not fit.
bool unixSocketAddress(const std::string& path, sockaddr_un& address);

class LocalConnection : public std::enable_shared_from_this<LocalConnection> {
public:
    static constexpr size_t maxMessage = 4 * 1024 * 1024;
    static constexpr size_t maxUnsent = 64 * 1024 * 1024;

    // Connects to the server at `path`, run by this same user; fails at
    // once when none listens there (a stale socket file is no server).
    static ErrorOr<std::shared_ptr<LocalConnection>> connect(const std::string& path);
    ~LocalConnection();
    LocalConnection(const LocalConnection&) = delete;
    LocalConnection& operator=(const LocalConnection&) = delete;

    // Queues one message; false when the connection is closed, the message
    // is too long, or the peer has let too much wait (then it closes).
    bool send(std::string_view message);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    // Reads and hands over messages until `enough` says so, for at most
    // `milliseconds`, without the run loop (a view waits so for its first
    // picture of the service before it shows anything). False on time-out
    // or close.
    bool waitFor(const std::function<bool()>& enough, int milliseconds);
    // The process at the other end.
    pid_t peerPid() const { return m_peerPid; }

    std::function<void(LocalConnection&, std::string message)> onMessage;
    std::function<void(LocalConnection&, const std::string& reason)> onClosed;

    // For a server's accepted socket; `fd` is owned from now on.
    static std::shared_ptr<LocalConnection> adopt(int fd, pid_t peer);

private:
    struct Private {
        explicit Private() = default;
    };

public:
    LocalConnection(Private, int fd, pid_t peer);

private:
    void start();
    void watch();
    void readReady();
    void writeReady();
    void fail(const std::string& reason);

    int m_fd { -1 };
    pid_t m_peerPid { 0 };
    std::unique_ptr<FdWatcher> m_watch;
    std::string m_in;
    std::string m_out;
    size_t m_outSent { 0 };
    bool m_wantsWrite { false };
};

class LocalServer {
public:
    static constexpr size_t maxConnections = 32;

    // Listens at `path` (mode 0600). A socket file left by a program that
    // has ended is replaced; one that still answers is an error.
    static ErrorOr<std::unique_ptr<LocalServer>> listen(const std::string& path);
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    const std::string& path() const { return m_path; }
    // A connection of this same user (others are closed unheard).
    std::function<void(const std::shared_ptr<LocalConnection>&)> onConnection;
    size_t connectionCount() const;

private:
    LocalServer(std::string path, int fd);
    void acceptReady();

    std::string m_path;
    int m_fd;
    ino_t m_inode { 0 };
    std::unique_ptr<FdWatcher> m_watch;
    std::vector<std::weak_ptr<LocalConnection>> m_connections;
};

} // namespace kit
