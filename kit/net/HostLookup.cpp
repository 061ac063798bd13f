#include "kit/net/HostLookup.h"

#include "kit/core/RunLoop.h"
#include "kit/net/HostMapping.h"

#include <arpa/inet.h>
#include <cstring>
#include <deque>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>

namespace kit {

struct HostLookup::State {
    std::mutex mutex;
    RunLoop* loop { nullptr }; // null once cancelled
    std::string host;
    uint16_t port { 0 };
    Callback done; // touched on the loop's thread only
};

namespace {

// The pool lives for the whole process and is never destroyed: a worker may
// still sit in the resolver while the program ends.
struct Pool {
    std::mutex mutex;
    std::deque<std::shared_ptr<HostLookup::State>> waiting;
    int workers { 0 };
};

Pool& pool()
{
    static Pool* shared = new Pool;
    return *shared;
}

ErrorOr<sockaddr_in> resolve(const std::string& host, uint16_t port)
{
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (status != 0 || !found)
        return Error { "Cannot find " + host + ": " + ::gai_strerror(status), 0 };
    sockaddr_in address {};
    std::memcpy(&address, found->ai_addr, std::min<size_t>(sizeof address, found->ai_addrlen));
    ::freeaddrinfo(found);
    address.sin_port = htons(port);
    return address;
}

void deliver(const std::shared_ptr<HostLookup::State>& state, ErrorOr<sockaddr_in> result)
{
    std::lock_guard lock(state->mutex);
    if (!state->loop)
        return;
    state->loop->postFromAnyThread([state, result = std::move(result)]() mutable {
        HostLookup::Callback done;
        {
            std::lock_guard lock(state->mutex);
            if (!state->loop)
                return;
            state->loop = nullptr;
            done = std::move(state->done);
        }
        if (done)
            done(std::move(result));
    });
}

void work()
{
    for (;;) {
        std::shared_ptr<HostLookup::State> state;
        {
            std::lock_guard lock(pool().mutex);
            if (pool().waiting.empty()) {
                --pool().workers;
                return;
            }
            state = std::move(pool().waiting.front());
            pool().waiting.pop_front();
        }
        std::string host;
        uint16_t port;
        {
            std::lock_guard lock(state->mutex);
            if (!state->loop)
                continue; // cancelled while it waited
            host = state->host;
            port = state->port;
        }
        deliver(state, resolve(host, port));
    }
}

} // namespace

std::unique_ptr<HostLookup> HostLookup::start(const std::string& host, uint16_t port, Callback done)
{
    return start(RunLoop::main(), host, port, std::move(done));
}

std::unique_ptr<HostLookup> HostLookup::start(RunLoop& loop, const std::string& host, uint16_t port, Callback done)
{
    auto state = std::make_shared<State>();
    state->loop = &loop;
    state->host = host;
    state->port = port;
    state->done = std::move(done);
    for (const auto& mapping : hostMappings())
        if (mapping.host == host && mapping.port == port) {
            state->host = mapping.connectHost;
            state->port = uint16_t(mapping.connectPort);
            break;
        }
    std::unique_ptr<HostLookup> lookup(new HostLookup(state));

    sockaddr_in numeric {};
    numeric.sin_family = AF_INET;
    numeric.sin_port = htons(state->port);
    if (state->host.empty() || state->host.size() > maxHostLength || state->host.find('\0') != std::string::npos) {
        deliver(state, Error { "Cannot find a host named \"" + state->host.substr(0, 64) + "\"", 0 });
    } else if (::inet_pton(AF_INET, state->host.c_str(), &numeric.sin_addr) == 1) {
        deliver(state, numeric);
    } else {
        std::lock_guard lock(pool().mutex);
        pool().waiting.push_back(state);
        if (pool().workers < maxWorkers) {
            try {
                std::thread(work).detach();
                ++pool().workers;
            } catch (const std::system_error&) {
                // No thread now: a running worker takes it, or the next start makes one.
                if (pool().workers == 0) {
                    pool().waiting.pop_back();
                    deliver(state, Error { "Cannot look up " + state->host + ": no thread to do it on", 0 });
                }
            }
        }
    }
    return lookup;
}

HostLookup::HostLookup(std::shared_ptr<State> state)
    : m_state(std::move(state))
{
}

HostLookup::~HostLookup()
{
    Callback done;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->loop = nullptr;
        done = std::move(m_state->done);
    }
    // `done` goes here, on the loop's thread, with whatever it captured.
}

} // namespace kit
