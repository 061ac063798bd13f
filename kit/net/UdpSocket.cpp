#include "kit/net/UdpSocket.h"

#include "kit/core/FdWatcher.h"
#include "kit/core/RunLoop.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace kit {

ErrorOr<std::unique_ptr<UdpSocket>> UdpSocket::open(uint32_t address, uint16_t port)
{
    return open(RunLoop::main(), address, port);
}

ErrorOr<std::unique_ptr<UdpSocket>> UdpSocket::open(RunLoop& loop, uint32_t address, uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Error::fromErrno("Cannot open a UDP socket");
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(address);
    socklen_t length = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        int err = errno;
        ::close(fd);
        return Error::fromErrno("Cannot bind a UDP socket", err);
    }
    return std::make_unique<UdpSocket>(Private {}, loop, fd, ntohs(addr.sin_port));
}

UdpSocket::UdpSocket(Private, RunLoop& loop, int fd, uint16_t port)
    : m_fd(fd)
    , m_port(port)
    , m_alive(std::make_shared<bool>(true))
{
    m_watch = std::make_unique<FdWatcher>(loop, fd, FdWatcher::Read, [this](unsigned) { readReady(); });
}

UdpSocket::~UdpSocket()
{
    *m_alive = false;
    m_watch.reset();
    ::close(m_fd);
}

ErrorOr<void> UdpSocket::sendTo(const sockaddr_in& to, std::string_view bytes)
{
    for (;;) {
        ssize_t sent = ::sendto(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (sent >= 0)
            return {};
        if (errno != EINTR)
            return Error::fromErrno("Cannot send a UDP datagram");
    }
}

void UdpSocket::readReady()
{
    auto alive = m_alive;
    std::vector<char> buffer(maxDatagram);
    for (int turn = 0; turn < datagramsPerTurn && *alive; ++turn) {
        sockaddr_in from {};
        socklen_t length = sizeof from;
        ssize_t got = ::recvfrom(m_fd, buffer.data(), buffer.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0) {
            // ICMP errors of earlier sends surface here too; they say nothing
            // about the next datagram, so reading goes on.
            if (errno == EINTR || errno == ECONNREFUSED || errno == EHOSTUNREACH || errno == ENETUNREACH)
                continue;
            return;
        }
        // A datagram cut to the buffer is no whole answer of anyone's.
        if (size_t(got) > buffer.size() || from.sin_family != AF_INET)
            continue;
        if (auto callback = onDatagram)
            callback(from, std::string_view(buffer.data(), size_t(got)));
    }
}

} // namespace kit
