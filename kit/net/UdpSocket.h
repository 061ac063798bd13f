#pragma once
// A UDP socket (IPv4) on a run loop: datagrams are sent at once and those
// that arrive are handed over on the loop, with their sender. Reads never
// block, and one turn of the loop takes at most datagramsPerTurn, so a
// flood cannot keep the loop from everything else. Destroying the socket
// (also from inside onDatagram) closes it; no callback follows.
#include "kit/core/ErrorOr.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string_view>

namespace kit {

class FdWatcher;
class RunLoop;

class UdpSocket {
public:
    static constexpr size_t maxDatagram = 64 * 1024;
    static constexpr int datagramsPerTurn = 64;

    // Bound to address:port (host order; INADDR_ANY and 0 by default).
    static ErrorOr<std::unique_ptr<UdpSocket>> open(RunLoop& loop, uint32_t address = INADDR_ANY, uint16_t port = 0);
    static ErrorOr<std::unique_ptr<UdpSocket>> open(uint32_t address = INADDR_ANY, uint16_t port = 0);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    uint16_t port() const { return m_port; }
    // One datagram; an error in the system's words when it was not sent
    // (a full buffer included: UDP is allowed to lose it).
    ErrorOr<void> sendTo(const sockaddr_in& to, std::string_view bytes);

    std::function<void(const sockaddr_in& from, std::string_view bytes)> onDatagram;

private:
    struct Private { explicit Private() = default; };

public:
    UdpSocket(Private, RunLoop& loop, int fd, uint16_t port);

private:
    void readReady();

    int m_fd;
    uint16_t m_port;
    std::unique_ptr<FdWatcher> m_watch;
    // Cleared by the destructor, so a read loop sees that onDatagram let go of us.
    std::shared_ptr<bool> m_alive;
};

} // namespace kit
