#include "kit/net/LineServer.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "kit/core/FdWatcher.h"
#include "kit/core/Log.h"
#include "kit/core/RunLoop.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace kit {
namespace {

// Accepts handled in one turn of the loop, so that a flood of connections
// cannot keep the loop from everything else.
constexpr int acceptsPerTurn = 256;
constexpr size_t readChunkSize = 16 * 1024;
// What one readWaiting() takes of a connection at most.
constexpr int readsOnDemandChunks = 16;

std::string address(const sockaddr_in& addr)
{
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text))
        return "an unknown address";
    return text;
}

// /proc/net/tcp writes an IPv4 endpoint as the address's four bytes in
// memory order and the port, both in hexadecimal.
std::string procEndpoint(const sockaddr_in& addr)
{
    char text[32];
    std::snprintf(text, sizeof text, "%08X:%04X", unsigned(addr.sin_addr.s_addr), unsigned(ntohs(addr.sin_port)));
    return text;
}

std::optional<unsigned long> tcpSocketInode(const sockaddr_in& localEnd, const sockaddr_in& remoteEnd)
{
    std::ifstream table("/proc/net/tcp");
    const std::string local = procEndpoint(localEnd), remote = procEndpoint(remoteEnd);
    std::string line;
    std::getline(table, line); // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, from, to, state, queues, timer, retransmits, uid, timeout, inode;
        if (!(fields >> slot >> from >> to >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode))
            continue;
        if (from == local && to == remote) {
            char* end = nullptr;
            unsigned long value = std::strtoul(inode.c_str(), &end, 10);
            if (end && *end == 0 && value != 0)
                return value;
        }
    }
    return std::nullopt;
}

bool processHoldsSocket(pid_t pid, unsigned long inode)
{
    // The process itself, or a child of a child: a client may run under a
    // small wrapper of its own. Bounded, so that a fork bomb costs little.
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    std::vector<pid_t> pending { pid };
    size_t looked = 0;
    while (!pending.empty() && looked < 64) {
        pid_t current = pending.back();
        pending.pop_back();
        ++looked;
        std::error_code ec;
        const std::filesystem::path base = "/proc/" + std::to_string(current);
        for (std::filesystem::directory_iterator it(base / "fd", ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code linkError;
            if (std::filesystem::read_symlink(it->path(), linkError).string() == wanted)
                return true;
        }
        for (std::filesystem::directory_iterator it(base / "task", ec), end; !ec && it != end; it.increment(ec)) {
            std::ifstream children(it->path() / "children");
            for (long child; children >> child;)
                pending.push_back(pid_t(child));
        }
    }
    return false;
}

} // namespace

// --- LineServer

ErrorOr<std::shared_ptr<LineServer>> LineServer::listen(uint16_t port)
{
    std::string where = "Cannot listen on 127.0.0.1:" + std::to_string(port);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Error::fromErrno(where);
    // Lets a restarted application take its port back from connections still
    // in TIME_WAIT; a port another program listens on stays refused.
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        int err = errno;
        ::close(fd);
        return Error::fromErrno(where, err);
    }
    socklen_t length = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        int err = errno;
        ::close(fd);
        return Error::fromErrno(where, err);
    }
    auto server = std::make_shared<LineServer>(Private {}, fd, ntohs(addr.sin_port));
    server->m_acceptWatch = std::make_unique<FdWatcher>(fd, FdWatcher::Read, [raw = server.get()](unsigned) { raw->acceptReady(); });
    return server;
}

std::optional<uid_t> LineServer::listenerUser(uint16_t port)
{
    std::ifstream table("/proc/net/tcp");
    char loopback[32], any[32];
    std::snprintf(loopback, sizeof loopback, "%08X:%04X", unsigned(htonl(INADDR_LOOPBACK)), unsigned(port)); // as procEndpoint writes it
    std::snprintf(any, sizeof any, "00000000:%04X", unsigned(port));
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, from, to, state, queues, timer, retransmits;
        long uid = -1;
        if (!(fields >> slot >> from >> to >> state >> queues >> timer >> retransmits >> uid))
            continue;
        if (state == "0A" && (from == loopback || from == any) && uid >= 0)
            return uid_t(uid);
    }
    return std::nullopt;
}

uid_t LineServer::ownUser()
{
    return ::getuid();
}

ErrorOr<std::shared_ptr<LineServer>> LineServer::adopt(int fd)
{
    sockaddr_in addr {};
    socklen_t length = sizeof addr;
    int listening = 0;
    socklen_t optionLength = sizeof listening;
    auto refuse = [fd](std::string why) -> ErrorOr<std::shared_ptr<LineServer>> {
        ::close(fd);
        return Error { "Cannot serve on the socket handed over: " + why, 0 };
    };
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0 || addr.sin_family != AF_INET)
        return refuse("it is no IPv4 socket");
    if (addr.sin_addr.s_addr != htonl(INADDR_LOOPBACK))
        return refuse("it does not listen on 127.0.0.1");
    if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &optionLength) != 0 || !listening)
        return refuse("it does not listen");
    int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    auto server = std::make_shared<LineServer>(Private {}, fd, ntohs(addr.sin_port));
    server->m_acceptWatch = std::make_unique<FdWatcher>(fd, FdWatcher::Read, [raw = server.get()](unsigned) { raw->acceptReady(); });
    return server;
}

LineServer::LineServer(Private, int fd, uint16_t port)
    : m_fd(fd)
    // Kept in reserve: when the process runs out of descriptors, giving this
    // one back lets a waiting connection be accepted and closed, instead of
    // its readiness spinning the loop.
    , m_spareFd(::open("/dev/null", O_RDONLY | O_CLOEXEC))
    , m_port(port)
{
}

LineServer::~LineServer()
{
    m_acceptWatch.reset();
    auto connections = std::move(m_connections);
    for (auto& [id, connection] : connections) {
        connection->onLine = nullptr;
        connection->onClosed = nullptr;
        connection->m_server.reset();
        connection->closeSocket();
    }
    ::close(m_fd);
    if (m_spareFd >= 0)
        ::close(m_spareFd);
}

ErrorOr<void> LineServer::checkLine(std::string_view line)
{
    if (line.size() > maxSendLength)
        return Error { "a line of " + std::to_string(line.size()) + " bytes (at most " + std::to_string(maxSendLength) + ")", 0 };
    for (size_t i = 0; i < line.size(); ++i) {
        auto c = static_cast<unsigned char>(line[i]);
        if (c < 0x20 || c >= 0x7f) {
            char what[80];
            std::snprintf(what, sizeof what, "a line with byte 0x%02X at %zu (only printable ASCII is sent)", c, i);
            return Error { what, 0 };
        }
    }
    return {};
}

void LineServer::acceptReady()
{
    // The owner may let go of the server in onConnection.
    auto self = shared_from_this();
    for (int turn = 0; turn < acceptsPerTurn; ++turn) {
        sockaddr_in addr {};
        socklen_t length = sizeof addr;
        int fd = ::accept4(m_fd, reinterpret_cast<sockaddr*>(&addr), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if ((errno == EMFILE || errno == ENFILE) && m_spareFd >= 0) {
                ::close(m_spareFd);
                int waiting = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
                m_spareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                if (waiting >= 0)
                    refuse(waiting);
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                log("Line server on 127.0.0.1:" + std::to_string(m_port) + ": accept failed: " + std::strerror(errno));
            return;
        }
        if (m_connections.size() >= maxConnections) {
            refuse(fd);
            continue;
        }
        uint64_t id = m_nextId++;
        auto connection = std::make_shared<LineConnection>(LineConnection::Private {}, weak_from_this(), id, fd, address(addr), ntohs(addr.sin_port));
        m_connections[id] = connection;
        connection->start();
        if (auto callback = onConnection)
            callback(connection);
        if (self.use_count() == 1)
            return; // the owner let go: accept nothing more for it
    }
}

void LineServer::setReadsOnDemand(bool onDemand)
{
    if (onDemand == m_readsOnDemand)
        return;
    m_readsOnDemand = onDemand;
    for (auto& [id, connection] : m_connections)
        if (connection->m_readWatch)
            connection->m_readWatch->setEnabled(!onDemand);
    if (!onDemand)
        readWaiting();
}

void LineServer::readWaiting()
{
    auto self = shared_from_this();
    // Lines may close connections or let go of this server.
    std::vector<std::weak_ptr<LineConnection>> connections;
    for (auto& [id, connection] : m_connections)
        connections.push_back(connection);
    for (auto& weak : connections)
        if (auto connection = weak.lock(); connection && connection->isOpen())
            connection->readWaiting();
}

void LineServer::refuse(int fd)
{
    ::close(fd);
    ++m_refused;
    if (!m_full) {
        m_full = true;
        log("Line server on 127.0.0.1:" + std::to_string(m_port) + ": " + std::to_string(maxConnections)
            + " connections are open; further ones are closed");
    }
}

void LineServer::forget(uint64_t id)
{
    m_connections.erase(id);
    if (m_full && m_connections.size() < maxConnections) {
        m_full = false;
        log("Line server on 127.0.0.1:" + std::to_string(m_port) + ": accepting connections again ("
            + std::to_string(m_refused) + " closed so far for lack of room)");
    }
}

// --- LineConnection

LineConnection::LineConnection(Private, std::weak_ptr<LineServer> server, uint64_t id, int fd, std::string peerAddress, uint16_t peerPort)
    : m_server(std::move(server))
    , m_id(id)
    , m_fd(fd)
    , m_peerAddress(std::move(peerAddress))
    , m_peerPort(peerPort)
{
}

bool LineConnection::comesFrom(pid_t pid) const
{
    if (m_fd < 0 || pid <= 0)
        return false;
    sockaddr_in local {}, peer {};
    socklen_t length = sizeof local;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return false;
    length = sizeof peer;
    if (::getpeername(m_fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
        return false;
    return connectionComesFrom(pid, local, peer);
}

bool connectionComesFrom(pid_t pid, const sockaddr_in& localEnd, const sockaddr_in& peerEnd)
{
    if (pid <= 0)
        return false;
    // The peer's socket is the one whose local end is our peer and whose far end is us.
    auto inode = tcpSocketInode(peerEnd, localEnd);
    return inode && processHoldsSocket(pid, *inode);
}

LineConnection::~LineConnection()
{
    m_readWatch.reset();
    m_writeWatch.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

void LineConnection::start()
{
    m_readWatch = std::make_unique<FdWatcher>(m_fd, FdWatcher::Read, [this](unsigned) { readChunk(); });
    if (auto server = m_server.lock(); server && server->readsOnDemand())
        m_readWatch->setEnabled(false);
}

void LineConnection::readWaiting()
{
    auto self = shared_from_this();
    // A bounded number of chunks: a peer that writes without end is read on
    // at the next call, not here for ever.
    for (int chunk = 0; chunk < readsOnDemandChunks && isOpen(); ++chunk)
        if (!readChunk())
            break;
}

void LineConnection::closeSocket()
{
    if (m_fd < 0)
        return;
    m_readWatch.reset();
    m_writeWatch.reset();
    ::close(m_fd);
    m_fd = -1;
    m_in.clear();
    m_out.clear();
    if (auto server = m_server.lock())
        server->forget(m_id);
}

void LineConnection::close()
{
    onLine = nullptr;
    onClosed = nullptr;
    auto self = shared_from_this(); // the server's reference goes in closeSocket
    closeSocket();
}

void LineConnection::fail(const std::string& reason)
{
    auto self = shared_from_this();
    closeSocket();
    auto callback = std::exchange(onClosed, nullptr);
    onLine = nullptr;
    if (callback)
        callback(*this, reason);
}

bool LineConnection::readChunk()
{
    // onLine may close the connection or let go of it.
    auto self = shared_from_this();
    char buffer[readChunkSize];
    ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
    if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return false;
        fail(std::string("read failed: ") + std::strerror(errno));
        return false;
    }
    if (got == 0) {
        fail(LineServer::peerClosedReason);
        return false;
    }
    m_in.append(buffer, size_t(got));
    size_t start = 0;
    while (isOpen()) {
        size_t end = m_in.find('\n', start);
        if (end == std::string::npos)
            break;
        std::string line = m_in.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > LineServer::maxLineLength) {
            fail("a line longer than " + std::to_string(LineServer::maxLineLength) + " bytes");
            return false;
        }
        if (auto callback = onLine)
            callback(*this, line);
    }
    if (!isOpen())
        return false;
    m_in.erase(0, start);
    // One more byte may be the "\r" of a line of the longest length.
    if (m_in.size() > LineServer::maxLineLength + 1) {
        fail("a line longer than " + std::to_string(LineServer::maxLineLength) + " bytes");
        return false;
    }
    return true;
}

ErrorOr<void> LineConnection::send(std::string_view line)
{
    if (!isOpen())
        return Error { "the connection is closed", 0 };
    auto fit = LineServer::checkLine(line);
    if (fit.isError())
        return fit.error();
    if (m_out.size() + line.size() + 1 > LineServer::maxUnsent) {
        // Told on the loop, not inside the owner's own call.
        std::string reason = "more than " + std::to_string(LineServer::maxUnsent) + " bytes unsent (the peer does not read)";
        closeSocket();
        RunLoop::main().post([weak = weak_from_this(), reason] {
            auto self = weak.lock();
            if (!self)
                return;
            if (auto callback = std::exchange(self->onClosed, nullptr)) {
                self->onLine = nullptr;
                callback(*self, reason);
            }
        });
        return Error { "the peer does not read: " + reason, 0 };
    }
    m_out.append(line);
    m_out += '\n';
    flush();
    return {};
}

void LineConnection::flush()
{
    while (!m_out.empty()) {
        ssize_t sent = ::send(m_fd, m_out.data(), m_out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            m_out.erase(0, size_t(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!m_writeWatch)
                m_writeWatch = std::make_unique<FdWatcher>(m_fd, FdWatcher::Write, [this](unsigned) { writeReady(); });
            return;
        }
        // The peer is gone; its read side says so on the next turn, with the reason.
        m_out.clear();
        break;
    }
    m_writeWatch.reset();
}

void LineConnection::writeReady()
{
    auto self = shared_from_this();
    flush();
}

} // namespace kit
