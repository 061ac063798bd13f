#pragma once
// A small HTTP/1.0 server on loopback, for local programs that speak HTTP to
// us (a transfer client's tracker requests). Each connection carries one GET:
// its head is read, handed to the owner, answered with a Content-Length and
// closed. It is built for careless or hostile peers, every bound its own:
//
// - The request line and headers together are at most maxHeadLength bytes;
//   a longer head, or one that is no HTTP request, gets "400 Bad Request".
//   A method other than GET gets "405 Method Not Allowed". A body is never read.
// - At most maxConnections are open at once; further ones are closed as they
//   come (logged once per burst).
// - A connection must bring its whole head within headTimeout seconds of the
//   run loop's clock, and the owner must answer within answerTimeout; a
//   connection still open answerTimeout after its request is closed.
// - An answer's body is at most maxBodyLength bytes.
//
// The owner may answer at once, inside onRequest, or later through the
// exchange it was handed (holding a shared_ptr); answering a closed exchange
// does nothing. Destroying the listener closes every connection.
#include "kit/core/ErrorOr.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <string_view>

namespace kit {

class FdWatcher;
class HttpListener;
class RunLoop;
class Timer;

class HttpExchange : public std::enable_shared_from_this<HttpExchange> {
public:
    ~HttpExchange();
    HttpExchange(const HttpExchange&) = delete;
    HttpExchange& operator=(const HttpExchange&) = delete;

    // "GET", and the request target as sent ("/path?query").
    const std::string& method() const { return m_method; }
    const std::string& target() const { return m_target; }
    // The peer as accept() saw it.
    const sockaddr_in& peer() const { return m_peer; }
    // The descriptor of the connection, for asking who holds its other end;
    // -1 once closed.
    int socket() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    bool answered() const { return m_answered; }

    // Sends the answer and closes once it is written; only the first counts.
    void respond(int status, std::string_view contentType, std::string_view body);

private:
    friend class HttpListener;
    struct Private { explicit Private() = default; };

public:
    HttpExchange(Private, std::weak_ptr<HttpListener> listener, RunLoop& loop, uint64_t id, int fd, const sockaddr_in& peer);

private:
    void start();
    void readReady();
    void parseHead();
    void writeReady();
    void close();

    std::weak_ptr<HttpListener> m_listener;
    RunLoop& m_loop;
    uint64_t m_id;
    int m_fd;
    sockaddr_in m_peer;
    std::string m_in;
    std::string m_out;
    size_t m_written { 0 };
    std::string m_method;
    std::string m_target;
    bool m_requested { false };
    bool m_answered { false };
    std::unique_ptr<FdWatcher> m_readWatch;
    std::unique_ptr<FdWatcher> m_writeWatch;
    std::shared_ptr<Timer> m_deadline;
};

class HttpListener : public std::enable_shared_from_this<HttpListener> {
public:
    static constexpr size_t maxHeadLength = 8 * 1024;
    static constexpr size_t maxConnections = 64;
    static constexpr size_t maxBodyLength = 1024 * 1024;
    static constexpr double headTimeout = 5;
    static constexpr double answerTimeout = 15;

    // Listens on 127.0.0.1 at port (0: any free one).
    static ErrorOr<std::shared_ptr<HttpListener>> listen(RunLoop& loop, uint16_t port);
    static ErrorOr<std::shared_ptr<HttpListener>> listen(uint16_t port);
    // Serves on a listening socket made elsewhere; it must listen on
    // 127.0.0.1. The listener takes the descriptor (closed on failure too).
    static ErrorOr<std::shared_ptr<HttpListener>> adopt(RunLoop& loop, int listeningSocket);
    static ErrorOr<std::shared_ptr<HttpListener>> adopt(int listeningSocket);
    ~HttpListener();
    HttpListener(const HttpListener&) = delete;
    HttpListener& operator=(const HttpListener&) = delete;

    uint16_t port() const { return m_port; }
    int listeningSocket() const { return m_fd; }
    size_t connectionCount() const { return m_exchanges.size(); }
    // Connections closed at once because maxConnections were open.
    uint64_t refusedCount() const { return m_refused; }

    // A whole GET head arrived. Answer now or later through the exchange.
    std::function<void(const std::shared_ptr<HttpExchange>&)> onRequest;

    // The usual reason phrase of a status ("Not Found").
    static const char* reason(int status);

private:
    friend class HttpExchange;
    struct Private { explicit Private() = default; };

public:
    HttpListener(Private, RunLoop& loop, int fd, uint16_t port);

private:
    static ErrorOr<std::shared_ptr<HttpListener>> serve(RunLoop& loop, int fd, uint16_t port);
    void acceptReady();
    void refuse(int fd);
    void forget(uint64_t id);

    RunLoop& m_loop;
    int m_fd;
    int m_spareFd { -1 };
    uint16_t m_port;
    uint64_t m_nextId { 1 };
    uint64_t m_refused { 0 };
    bool m_full { false };
    std::unique_ptr<FdWatcher> m_acceptWatch;
    std::map<uint64_t, std::shared_ptr<HttpExchange>> m_exchanges;
};

} // namespace kit
