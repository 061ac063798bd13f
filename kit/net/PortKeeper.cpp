#include "kit/net/PortKeeper.h"

#include "kit/core/ChildProcess.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/core/RuntimeFolder.h"
#include "kit/net/LocalChannel.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <optional>
#include <utility>

namespace kit {

namespace {

constexpr int answerWithinMs = 1000;

std::optional<ucred> peerOf(int fd)
{
    ucred peer {};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return std::nullopt;
    return peer;
}

} // namespace

std::string PortKeeper::socketPath()
{
    return deviceSocketPath("quorvane-keeper");
}

std::string PortKeeper::programPath()
{
    return ChildProcess::helperPath("quorvane-keeper");
}

PortKeeper::PortKeeper(int connection, int listening, int gateway, pid_t keeper)
    : m_connection(connection)
    , m_listening(listening)
    , m_gateway(gateway)
    , m_keeperPid(keeper)
{
}

PortKeeper::~PortKeeper()
{
    if (m_listening >= 0)
        ::close(m_listening);
    if (m_gateway >= 0)
        ::close(m_gateway);
    // The keeper goes on while the clients it was told of live.
    ::close(m_connection);
}

std::unique_ptr<PortKeeper> PortKeeper::join(const std::string& path)
{
    sockaddr_un address;
    if (!unixSocketAddress(path, address))
        return nullptr;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return nullptr;
    }
    auto peer = peerOf(fd);
    if (!peer || peer->uid != ::getuid()) {
        log("The control port's keeper at " + path + " is another user's program; it is not used");
        ::close(fd);
        return nullptr;
    }
    pollfd ready { fd, POLLIN, 0 };
    int listening = -1, gateway = -1;
    pid_t keeper = 0;
    if (::poll(&ready, 1, answerWithinMs) == 1) {
        char text[32] {};
        iovec io { text, sizeof text - 1 };
        alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] {};
        msghdr message {};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(fd, &message, MSG_CMSG_CLOEXEC);
        if (got > 1 && text[0] == 'K') {
            keeper = pid_t(std::strtol(text + 1, nullptr, 10));
            cmsghdr* header = CMSG_FIRSTHDR(&message);
            if (header && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS) {
                // The control socket, and the gateway's where the keeper holds one.
                if (header->cmsg_len == CMSG_LEN(sizeof(int)))
                    std::memcpy(&listening, CMSG_DATA(header), sizeof listening);
                else if (header->cmsg_len == CMSG_LEN(2 * sizeof(int))) {
                    int fds[2];
                    std::memcpy(fds, CMSG_DATA(header), sizeof fds);
                    listening = fds[0];
                    gateway = fds[1];
                }
            }
        }
    }
    if (listening < 0) {
        if (gateway >= 0)
            ::close(gateway);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<PortKeeper>(new PortKeeper(fd, listening, gateway, keeper));
}

ErrorOr<std::unique_ptr<PortKeeper>> PortKeeper::start(int listeningSocket, int gatewaySocket, const std::string& path, const std::string& program)
{
    sockaddr_un address;
    if (!unixSocketAddress(path, address))
        return Error { "no private runtime folder to keep the control port from (" + runtimeFolder().note + ")", 0 };
    if (::access(program.c_str(), X_OK) != 0)
        return Error::fromErrno("cannot run the control port's keeper " + program);
    int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (server < 0)
        return Error::fromErrno("cannot make a socket for the control port's keeper");
    // A keeper that ended leaves its name behind; the folder is the user's alone.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
        ::unlink(path.c_str());
    if (::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::chmod(path.c_str(), 0600) != 0
        || ::listen(server, 8) != 0) {
        int error = errno;
        ::close(server);
        return Error::fromErrno("cannot listen at " + path, error);
    }
    pid_t child = ::fork();
    if (child < 0) {
        int error = errno;
        ::close(server);
        return Error::fromErrno("cannot start the control port's keeper", error);
    }
    if (child == 0) {
        // Between fork and exec only system calls: the parent may have threads.
        ::setsid();
        if (::fork() != 0)
            ::_exit(0); // the keeper is nobody's child: nobody need wait for it
        int tcp = ::fcntl(listeningSocket, F_DUPFD, 10);
        int unix = ::fcntl(server, F_DUPFD, 10);
        int gateway = gatewaySocket >= 0 ? ::fcntl(gatewaySocket, F_DUPFD, 10) : -1;
        int null = ::open("/dev/null", O_RDWR);
        if (tcp < 0 || unix < 0 || null < 0 || (gatewaySocket >= 0 && gateway < 0) || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0
            || ::dup2(null, 2) < 0 || ::dup2(tcp, 3) < 0 || ::dup2(unix, 4) < 0 || (gateway >= 0 && ::dup2(gateway, 5) < 0))
            ::_exit(127);
        ::close_range(gateway >= 0 ? 6 : 5, ~0u, 0);
        const char* arguments[] = { "quorvane-keeper", path.c_str(), nullptr };
        ::execv(program.c_str(), const_cast<char* const*>(arguments));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    ::close(server);
    auto joined = join(path);
    if (!joined)
        return Error { "the control port's keeper " + program + " did not answer", 0 };
    return joined;
}

bool PortKeeper::setClients(const std::vector<pid_t>& pids)
{
    std::string line = "CLIENTS";
    for (pid_t pid : pids)
        line += " " + std::to_string(pid);
    line += "\n";
    if (line == m_lastSaid)
        return true;
    // A short line to a process that reads at once; should its buffer be
    // full, the next change says it all again.
    const ssize_t sent = ::send(m_connection, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent == ssize_t(line.size()))
        m_lastSaid = line;
    return sent >= 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

} // namespace kit
