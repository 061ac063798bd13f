#pragma once
// The control port's keeper, seen from the application: a tiny process of
// ours (tools/keeper) that holds the listening socket of the clients'
// control channel while any client of ours may come back to it, so that no
// other local user can take the port between two runs and be handed the
// password the clients give when they reconnect.
//
// A run first joins a keeper already there and is handed its socket (over a
// Unix socket in the user's private runtime folder, the peer's user checked
// both ways). Where none answers it listens itself and, once it has a client
// to protect, starts a keeper with a copy of its socket. While joined, it
// tells the keeper its clients' process ids; the keeper ends once no run is
// joined and none of those clients lives.
//
// Blocking, but bounded: a keeper that does not answer within a second is
// taken as gone.
#include "kit/core/ErrorOr.h"

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kit {

class PortKeeper {
public:
    ~PortKeeper();
    PortKeeper(const PortKeeper&) = delete;
    PortKeeper& operator=(const PortKeeper&) = delete;

    // The keeper's socket for the current device (empty where the user has
    // no private runtime folder).
    static std::string socketPath();
    // The keeper program: beside this program (a build tree), else in the
    // libexec folder of this program's package.
    static std::string programPath();

    // Joins the keeper listening at path: nothing when none answers there.
    static std::unique_ptr<PortKeeper> join(const std::string& path = socketPath());
    // Starts a keeper for the listening socket (a copy of it goes to the
    // keeper; the caller keeps its own) and joins it.
    // The clients' tracker gateway's listening socket (-1: none) is kept beside it.
    static ErrorOr<std::unique_ptr<PortKeeper>> start(int listeningSocket, int gatewaySocket = -1, const std::string& path = socketPath(),
        const std::string& program = programPath());

    // The listening socket handed over by the keeper (the caller takes it; -1 once taken).
    int takeListeningSocket() { return std::exchange(m_listening, -1); }
    // The gateway's socket, where the keeper holds one (-1: none, or taken).
    int takeGatewaySocket() { return std::exchange(m_gateway, -1); }
    // The clients of ours alive now, replacing what was said before; false
    // when the keeper has gone (killed): a new one is needed.
    bool setClients(const std::vector<pid_t>& pids);
    // The keeper's process id (for tests).
    pid_t keeperPid() const { return m_keeperPid; }

private:
    PortKeeper(int connection, int listening, int gateway, pid_t keeper);

    int m_connection;
    int m_listening;
    int m_gateway;
    pid_t m_keeperPid;
    std::string m_lastSaid;
};

} // namespace kit
