#include "kit/net/HttpListener.h"

#include "kit/core/FdWatcher.h"
#include "kit/core/Log.h"
#include "kit/core/RunLoop.h"
#include "kit/core/Timer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kit {
namespace {

// Accepts handled in one turn of the loop, so that a flood of connections
// cannot keep the loop from everything else.
constexpr int acceptsPerTurn = 64;
constexpr size_t readChunkSize = 4096;

bool isTokenChar(char c)
{
    return c > 0x20 && c < 0x7f;
}

} // namespace

const char* HttpListener::reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Unknown";
    }
}

ErrorOr<std::shared_ptr<HttpListener>> HttpListener::listen(uint16_t port)
{
    return listen(RunLoop::main(), port);
}

ErrorOr<std::shared_ptr<HttpListener>> HttpListener::listen(RunLoop& loop, uint16_t port)
{
    std::string where = "Cannot listen on 127.0.0.1:" + std::to_string(port);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Error::fromErrno(where);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, SOMAXCONN) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        int err = errno;
        ::close(fd);
        return Error::fromErrno(where, err);
    }
    return serve(loop, fd, ntohs(addr.sin_port));
}

ErrorOr<std::shared_ptr<HttpListener>> HttpListener::adopt(int fd)
{
    return adopt(RunLoop::main(), fd);
}

ErrorOr<std::shared_ptr<HttpListener>> HttpListener::adopt(RunLoop& loop, int fd)
{
    sockaddr_in addr {};
    socklen_t length = sizeof addr;
    int listening = 0;
    socklen_t optionLength = sizeof listening;
    auto refuse = [fd](std::string why) -> ErrorOr<std::shared_ptr<HttpListener>> {
        if (fd >= 0)
            ::close(fd);
        return Error { "Cannot serve HTTP on the socket handed over: " + why, 0 };
    };
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0 || addr.sin_family != AF_INET)
        return refuse("it is no IPv4 socket");
    if (addr.sin_addr.s_addr != htonl(INADDR_LOOPBACK))
        return refuse("it does not listen on 127.0.0.1");
    if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &optionLength) != 0 || !listening)
        return refuse("it does not listen");
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return serve(loop, fd, ntohs(addr.sin_port));
}

ErrorOr<std::shared_ptr<HttpListener>> HttpListener::serve(RunLoop& loop, int fd, uint16_t port)
{
    auto listener = std::make_shared<HttpListener>(Private {}, loop, fd, port);
    listener->m_acceptWatch = std::make_unique<FdWatcher>(loop, fd, FdWatcher::Read, [raw = listener.get()](unsigned) { raw->acceptReady(); });
    return listener;
}

HttpListener::HttpListener(Private, RunLoop& loop, int fd, uint16_t port)
    : m_loop(loop)
    , m_fd(fd)
    // Given back when the process runs out of descriptors, so that a waiting
    // connection can be accepted and closed instead of spinning the loop.
    , m_spareFd(::open("/dev/null", O_RDONLY | O_CLOEXEC))
    , m_port(port)
{
}

HttpListener::~HttpListener()
{
    m_acceptWatch.reset();
    auto exchanges = std::move(m_exchanges);
    for (auto& [id, exchange] : exchanges) {
        exchange->m_listener.reset();
        exchange->close();
    }
    ::close(m_fd);
    if (m_spareFd >= 0)
        ::close(m_spareFd);
}

void HttpListener::acceptReady()
{
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
                log("HTTP listener on 127.0.0.1:" + std::to_string(m_port) + ": accept failed: " + std::strerror(errno));
            return;
        }
        if (m_exchanges.size() >= maxConnections) {
            refuse(fd);
            continue;
        }
        uint64_t id = m_nextId++;
        auto exchange = std::make_shared<HttpExchange>(HttpExchange::Private {}, weak_from_this(), m_loop, id, fd, addr);
        m_exchanges[id] = exchange;
        exchange->start();
        if (self.use_count() == 1)
            return;
    }
}

void HttpListener::refuse(int fd)
{
    ::close(fd);
    ++m_refused;
    if (!m_full) {
        m_full = true;
        log("HTTP listener on 127.0.0.1:" + std::to_string(m_port) + ": " + std::to_string(maxConnections)
            + " connections are open; further ones are closed");
    }
}

void HttpListener::forget(uint64_t id)
{
    m_exchanges.erase(id);
    if (m_full && m_exchanges.size() < maxConnections) {
        m_full = false;
        log("HTTP listener on 127.0.0.1:" + std::to_string(m_port) + ": accepting connections again ("
            + std::to_string(m_refused) + " closed so far for lack of room)");
    }
}

// --- HttpExchange

HttpExchange::HttpExchange(Private, std::weak_ptr<HttpListener> listener, RunLoop& loop, uint64_t id, int fd, const sockaddr_in& peer)
    : m_listener(std::move(listener))
    , m_loop(loop)
    , m_id(id)
    , m_fd(fd)
    , m_peer(peer)
{
}

HttpExchange::~HttpExchange()
{
    m_readWatch.reset();
    m_writeWatch.reset();
    if (m_deadline)
        m_deadline->invalidate();
    if (m_fd >= 0)
        ::close(m_fd);
}

void HttpExchange::start()
{
    std::weak_ptr<HttpExchange> weak = weak_from_this();
    m_readWatch = std::make_unique<FdWatcher>(m_loop, m_fd, FdWatcher::Read, [this](unsigned) { readReady(); });
    m_deadline = Timer::scheduled(m_loop, HttpListener::headTimeout, false, [weak](Timer&) {
        if (auto self = weak.lock())
            self->close();
    });
}

void HttpExchange::close()
{
    if (m_fd < 0)
        return;
    auto self = shared_from_this();
    m_readWatch.reset();
    m_writeWatch.reset();
    if (m_deadline) {
        m_deadline->invalidate();
        m_deadline.reset();
    }
    ::close(m_fd);
    m_fd = -1;
    m_in.clear();
    m_out.clear();
    if (auto listener = m_listener.lock())
        listener->forget(m_id);
}

void HttpExchange::readReady()
{
    auto self = shared_from_this();
    char buffer[readChunkSize];
    ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
    if (got < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            close();
        return;
    }
    if (got == 0) {
        // The peer went before its answer: nobody is left to read one.
        close();
        return;
    }
    if (m_requested || m_answered)
        return; // a body, a second request, or the rest after an early answer: read and dropped
    m_in.append(buffer, size_t(got));
    parseHead();
}

void HttpExchange::parseHead()
{
    size_t end = m_in.find("\r\n\r\n");
    size_t endLength = 4;
    if (size_t bare = m_in.find("\n\n"); bare != std::string::npos && (end == std::string::npos || bare < end)) {
        end = bare;
        endLength = 2;
    }
    if (end == std::string::npos) {
        if (m_in.size() > HttpListener::maxHeadLength)
            respond(431, "text/plain", "Request head too large\n");
        return;
    }
    if (end + endLength > HttpListener::maxHeadLength) {
        respond(431, "text/plain", "Request head too large\n");
        return;
    }
    m_requested = true;
    std::string_view head(m_in.data(), end);
    std::string_view line = head.substr(0, head.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    // METHOD SP TARGET SP HTTP/1.x, nothing else.
    size_t first = line.find(' ');
    size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos) {
        respond(400, "text/plain", "Bad request\n");
        return;
    }
    std::string_view method = line.substr(0, first), target = line.substr(first + 1, second - first - 1),
                     version = line.substr(second + 1);
    bool tokens = !method.empty() && !target.empty() && target.front() == '/';
    for (char c : method)
        tokens = tokens && c >= 'A' && c <= 'Z';
    for (char c : target)
        tokens = tokens && isTokenChar(c);
    if (!tokens || (version != "HTTP/1.0" && version != "HTTP/1.1")) {
        respond(400, "text/plain", "Bad request\n");
        return;
    }
    m_method = method;
    m_target = target;
    m_in.clear();
    if (m_method != "GET") {
        respond(405, "text/plain", "Only GET is served\n");
        return;
    }
    // The owner's turn; it has answerTimeout to answer.
    m_deadline->invalidate();
    std::weak_ptr<HttpExchange> weak = weak_from_this();
    m_deadline = Timer::scheduled(m_loop, HttpListener::answerTimeout, false, [weak](Timer&) {
        if (auto self = weak.lock())
            self->close();
    });
    auto listener = m_listener.lock();
    if (listener && listener->onRequest) {
        auto callback = listener->onRequest;
        callback(shared_from_this());
    } else {
        respond(503, "text/plain", "Not serving\n");
    }
}

void HttpExchange::respond(int status, std::string_view contentType, std::string_view body)
{
    if (m_answered || m_fd < 0)
        return;
    m_answered = true;
    if (body.size() > HttpListener::maxBodyLength) {
        status = 500;
        contentType = "text/plain";
        body = "Answer too large\n";
    }
    std::string type(contentType);
    for (char& c : type)
        if (!isTokenChar(c) && c != ' ')
            c = '_';
    m_out = "HTTP/1.0 " + std::to_string(status) + " " + HttpListener::reason(status) + "\r\n"
        + "Content-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size())
        + "\r\nConnection: close\r\n\r\n";
    m_out.append(body);
    m_written = 0;
    m_writeWatch = std::make_unique<FdWatcher>(m_loop, m_fd, FdWatcher::Write, [this](unsigned) { writeReady(); });
    writeReady();
}

void HttpExchange::writeReady()
{
    if (m_fd < 0)
        return;
    auto self = shared_from_this();
    while (m_written < m_out.size()) {
        ssize_t sent = ::send(m_fd, m_out.data() + m_written, m_out.size() - m_written, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return; // the deadline still runs: a peer that never reads is closed by it
            close();
            return;
        }
        m_written += size_t(sent);
    }
    // The peer reads to the end and closes; closing first, with its bytes
    // unread, would reset the connection and could lose the answer. The
    // deadline still bounds the wait.
    ::shutdown(m_fd, SHUT_WR);
    m_writeWatch.reset();
    if (!m_readWatch)
        close();
}

} // namespace kit
