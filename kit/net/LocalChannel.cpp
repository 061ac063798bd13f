#include "kit/net/LocalChannel.h"

#include "kit/core/FdWatcher.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kit {

bool unixSocketAddress(const std::string& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

namespace {

// The peer's process, when it runs as this user.
std::optional<pid_t> sameUserPeer(int fd)
{
    ucred peer {};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid())
        return std::nullopt;
    return peer.pid;
}

} // namespace

LocalConnection::LocalConnection(Private, int fd, pid_t peer)
    : m_fd(fd)
    , m_peerPid(peer)
{
}

LocalConnection::~LocalConnection()
{
    m_watch.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

std::shared_ptr<LocalConnection> LocalConnection::adopt(int fd, pid_t peer)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    auto connection = std::make_shared<LocalConnection>(Private(), fd, peer);
    connection->start();
    return connection;
}

ErrorOr<std::shared_ptr<LocalConnection>> LocalConnection::connect(const std::string& path)
{
    sockaddr_un address;
    if (!unixSocketAddress(path, address))
        return Error { "The socket path is too long: " + path };
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Error::fromErrno("Cannot make a socket");
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        auto error = Error::fromErrno("Nothing answers at " + path);
        ::close(fd);
        return error;
    }
    auto peer = sameUserPeer(fd);
    if (!peer) {
        ::close(fd);
        return Error { "The program at " + path + " runs as another user: not used" };
    }
    return adopt(fd, *peer);
}

void LocalConnection::start() { watch(); }

void LocalConnection::watch()
{
    std::weak_ptr<LocalConnection> weak = shared_from_this();
    m_watch = std::make_unique<FdWatcher>(m_fd, FdWatcher::Read | (m_wantsWrite ? unsigned(FdWatcher::Write) : 0u), [weak](unsigned events) {
        auto self = weak.lock();
        if (!self)
            return;
        if (events & FdWatcher::Write)
            self->writeReady();
        if (self->isOpen() && (events & (FdWatcher::Read | FdWatcher::Error)))
            self->readReady();
    });
}

bool LocalConnection::send(std::string_view message)
{
    if (m_fd < 0 || message.size() > maxMessage)
        return false;
    if (m_out.size() - m_outSent + message.size() + 4 > maxUnsent) {
        fail("the peer does not read");
        return false;
    }
    if (m_outSent > 0 && m_outSent == m_out.size()) {
        m_out.clear();
        m_outSent = 0;
    }
    const uint32_t n = uint32_t(message.size());
    const char length[4] = { char(n >> 24), char(n >> 16), char(n >> 8), char(n) };
    m_out.append(length, 4);
    m_out.append(message);
    writeReady();
    return m_fd >= 0;
}

void LocalConnection::writeReady()
{
    while (m_fd >= 0 && m_outSent < m_out.size()) {
        ssize_t n = ::send(m_fd, m_out.data() + m_outSent, m_out.size() - m_outSent, MSG_NOSIGNAL);
        if (n > 0) {
            m_outSent += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        return fail(std::strerror(errno));
    }
    if (m_fd < 0)
        return;
    if (m_outSent == m_out.size()) {
        m_out.clear();
        m_outSent = 0;
    } else if (m_outSent > 1024 * 1024) {
        m_out.erase(0, m_outSent);
        m_outSent = 0;
    }
    // Woken for writing only while something waits.
    const bool wants = !m_out.empty();
    if (wants != m_wantsWrite) {
        m_wantsWrite = wants;
        watch();
    }
}

void LocalConnection::readReady()
{
    auto hold = shared_from_this();
    char buffer[64 * 1024];
    for (int rounds = 0; m_fd >= 0 && rounds < 16; ++rounds) {
        ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n == 0)
            return fail("closed by the peer");
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            return fail(std::strerror(errno));
        }
        m_in.append(buffer, size_t(n));
        size_t at = 0;
        while (m_fd >= 0 && m_in.size() - at >= 4) {
            const auto* b = reinterpret_cast<const unsigned char*>(m_in.data() + at);
            const size_t length = (size_t(b[0]) << 24) | (size_t(b[1]) << 16) | (size_t(b[2]) << 8) | size_t(b[3]);
            if (length > maxMessage)
                return fail("a message longer than allowed");
            if (m_in.size() - at - 4 < length)
                break;
            std::string message = m_in.substr(at + 4, length);
            at += 4 + length;
            if (onMessage)
                onMessage(*this, std::move(message));
        }
        if (m_fd < 0)
            return;
        m_in.erase(0, at);
    }
}

bool LocalConnection::waitFor(const std::function<bool()>& enough, int milliseconds)
{
    auto hold = shared_from_this();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (m_fd >= 0 && !enough()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p { m_fd, POLLIN, 0 };
        if (::poll(&p, 1, int(left)) < 0 && errno != EINTR)
            return false;
        if (p.revents)
            readReady();
    }
    return m_fd >= 0;
}

void LocalConnection::fail(const std::string& reason)
{
    if (m_fd < 0)
        return;
    close();
    if (auto closed = std::move(onClosed))
        closed(*this, reason);
}

void LocalConnection::close()
{
    m_watch.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_in.clear();
    m_out.clear();
    m_outSent = 0;
}

LocalServer::LocalServer(std::string path, int fd)
    : m_path(std::move(path))
    , m_fd(fd)
{
    struct stat st {};
    if (::stat(m_path.c_str(), &st) == 0)
        m_inode = st.st_ino;
    m_watch = std::make_unique<FdWatcher>(m_fd, FdWatcher::Read, [this](unsigned) { acceptReady(); });
}

LocalServer::~LocalServer()
{
    m_watch.reset();
    ::close(m_fd);
    // Only our own socket file goes: a later server's stays.
    struct stat st {};
    if (::stat(m_path.c_str(), &st) == 0 && st.st_ino == m_inode)
        ::unlink(m_path.c_str());
}

ErrorOr<std::unique_ptr<LocalServer>> LocalServer::listen(const std::string& path)
{
    sockaddr_un address;
    if (!unixSocketAddress(path, address))
        return Error { "The socket path is too long: " + path };
    if (auto answering = LocalConnection::connect(path))
        return Error { "Another program already answers at " + path };
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return Error::fromErrno("Cannot make a socket");
    ::unlink(path.c_str()); // what nothing answers at is left over
    const mode_t mask = ::umask(0177);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::umask(mask);
    if (!bound || ::listen(fd, 16) != 0) {
        auto error = Error::fromErrno("Cannot listen at " + path);
        ::close(fd);
        return error;
    }
    return std::unique_ptr<LocalServer>(new LocalServer(path, fd));
}

size_t LocalServer::connectionCount() const
{
    size_t n = 0;
    for (auto& c : m_connections)
        if (auto held = c.lock(); held && held->isOpen())
            ++n;
    return n;
}

void LocalServer::acceptReady()
{
    for (int rounds = 0; rounds < 16; ++rounds) {
        int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        std::erase_if(m_connections, [](auto& c) {
            auto held = c.lock();
            return !held || !held->isOpen();
        });
        auto peer = sameUserPeer(fd);
        if (!peer || m_connections.size() >= maxConnections) {
            ::close(fd);
            continue;
        }
        auto connection = LocalConnection::adopt(fd, *peer);
        m_connections.push_back(connection);
        if (onConnection)
            onConnection(connection);
    }
}

} // namespace kit
