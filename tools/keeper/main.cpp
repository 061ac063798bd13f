// quorvane-keeper: holds the listening socket of the transfer clients'
// control channel between two runs of the application.
//
// The clients outlive the application and reconnect by themselves every few
// seconds, giving the device's password. Were the port free while no run
// listens, any local user could take it and be handed that password and the
// clients with it. So the socket is held here, in a process that does
// nothing else, for as long as a client of ours may come back:
//
//   fd 3   the listening TCP socket on 127.0.0.1 (never accepted on here)
//   fd 4   a listening Unix socket in the user's private runtime folder
//   fd 5   where given, the listening TCP socket on 127.0.0.1 of the
//          clients' tracker gateway: their announce address is in their
//          command lines too
//
// Each run that connects on fd 4 (this user's only, checked by SO_PEERCRED)
// gets fd 3 (and fd 5) with SCM_RIGHTS and then says which clients it has, a line
// "CLIENTS PID PID ..." each time they change. The keeper ends once no run
// is connected and none of those clients lives, and takes the Unix socket's
// name (its one argument) with it. It reads no files but /proc and writes
// nothing.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "quorvane/Version.h"

namespace {

constexpr int tcpSocket = 3;
constexpr int unixSocket = 4;
constexpr int gatewaySocket = 5;
constexpr size_t maxRuns = 8;
constexpr size_t maxLine = 4096;
constexpr size_t maxClients = 256;
constexpr int checkEveryMs = 2000;

// A process's start time in clock ticks (field 22 of its stat line): with
// the pid it names one process, not a later one given the same number.
long long startTime(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return -1;
    auto close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    char state = 0;
    rest >> state;
    if (state == 'Z' || state == 'X')
        return -1;
    for (int i = 4; i < 22; ++i)
        rest >> field;
    long long value = -1;
    rest >> value;
    return value;
}

struct Run {
    int fd;
    std::string in;
};

bool isListening(int fd)
{
    int listening = 0;
    socklen_t length = sizeof listening;
    return ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening;
}

bool handOver(int run, bool withGateway)
{
    // "K" and the keeper's process id: the socket's credentials name the run
    // that made it, not the keeper.
    char text[32];
    const int length = std::snprintf(text, sizeof text, "K%d\n", int(::getpid()));
    iovec io { text, size_t(length) };
    const int fds[2] = { tcpSocket, gatewaySocket };
    const size_t count = withGateway ? 2 : 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof fds)] {};
    msghdr message {};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = CMSG_SPACE(count * sizeof(int));
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(count * sizeof(int));
    std::memcpy(CMSG_DATA(header), fds, count * sizeof(int));
    return ::sendmsg(run, &message, MSG_NOSIGNAL | MSG_DONTWAIT) == length;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("quorvane-keeper (Quorvane) " QUORVANE_VERSION);
        return 0;
    }
    if (!isListening(tcpSocket) || !isListening(unixSocket)) {
        std::fputs("quorvane-keeper: started by Quorvane only, with its two listening sockets\n", stderr);
        return 2;
    }
    const bool withGateway = isListening(gatewaySocket);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);
    std::map<pid_t, long long> clients;
    std::vector<Run> runs;
    bool everJoined = false;
    for (;;) {
        std::vector<pollfd> watched { { unixSocket, POLLIN, 0 } };
        for (auto& run : runs)
            watched.push_back({ run.fd, POLLIN, 0 });
        int ready = ::poll(watched.data(), watched.size(), checkEveryMs);
        if (ready < 0 && errno != EINTR)
            return 1;
        if (ready > 0 && (watched[0].revents & POLLIN)) {
            int run = ::accept4(unixSocket, nullptr, nullptr, SOCK_CLOEXEC);
            if (run >= 0) {
                ucred peer {};
                socklen_t size = sizeof peer;
                const bool ours = ::getsockopt(run, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
                if (!ours || runs.size() >= maxRuns || !handOver(run, withGateway)) {
                    ::close(run);
                } else {
                    runs.push_back({ run, {} });
                    everJoined = true;
                }
            }
        }
        for (size_t i = 1; ready > 0 && i < watched.size(); ++i) {
            if (!watched[i].revents)
                continue;
            auto& run = runs[i - 1];
            char buffer[1024];
            ssize_t n = ::recv(run.fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0 || run.in.size() + size_t(n) > maxLine) {
                ::close(run.fd);
                run.fd = -1;
                continue;
            }
            run.in.append(buffer, size_t(n));
            for (auto end = run.in.find('\n'); end != std::string::npos; end = run.in.find('\n')) {
                std::istringstream line(run.in.substr(0, end));
                run.in.erase(0, end + 1);
                std::string word;
                if (!(line >> word) || word != "CLIENTS")
                    continue;
                // The run's whole list: those it no longer names have ended or were handed on.
                clients.clear();
                for (long pid; clients.size() < maxClients && line >> pid;)
                    if (pid > 1)
                        if (long long start = startTime(pid_t(pid)); start >= 0)
                            clients[pid_t(pid)] = start;
            }
        }
        std::erase_if(runs, [](const Run& run) { return run.fd < 0; });
        if (!runs.empty())
            continue;
        std::erase_if(clients, [](const auto& client) { return startTime(client.first) != client.second; });
        // No run listens and no client of ours is left to come back: the port may go.
        // (The run that started us and never came is given up on too.)
        if ((clients.empty() && everJoined) || (!everJoined && ready == 0)) {
            // The name goes while the socket still holds it, so that it is never a newer keeper's.
            struct stat st {};
            if (argc > 1 && ::lstat(argv[1], &st) == 0 && S_ISSOCK(st.st_mode))
                ::unlink(argv[1]);
            // The port is free at once for a run starting now, not once the process has wound down.
            ::close(unixSocket);
            ::close(tcpSocket);
            if (withGateway)
                ::close(gatewaySocket);
            return 0;
        }
    }
}
