#pragma once
// Finds a host's IPv4 address without blocking the run loop: the system's
// resolver runs on a small pool of worker threads and the answer comes back
// on the loop. A numeric address is answered without a thread. The host and
// port go through the host mapping first (QUORVANE_CONNECT_TO, HostMapping.h),
// so that tests and the demo can point a fixed name at loopback.
//
// Destroying the lookup cancels it: its callback never runs afterwards (the
// worker may still finish the system's call; its result is dropped). At most
// maxWorkers lookups run at once; the others wait their turn.
#include "kit/core/ErrorOr.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>

namespace kit {

class RunLoop;

class HostLookup {
public:
    static constexpr int maxWorkers = 4;
    static constexpr size_t maxHostLength = 253;
    using Callback = std::function<void(ErrorOr<sockaddr_in> address)>;

    static std::unique_ptr<HostLookup> start(RunLoop& loop, const std::string& host, uint16_t port, Callback done);
    static std::unique_ptr<HostLookup> start(const std::string& host, uint16_t port, Callback done);
    ~HostLookup();
    HostLookup(const HostLookup&) = delete;
    HostLookup& operator=(const HostLookup&) = delete;

    struct State;

private:
    explicit HostLookup(std::shared_ptr<State> state);
    std::shared_ptr<State> m_state;
};

} // namespace kit
