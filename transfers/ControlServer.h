#pragma once
// The transfer clients' control server: the application listens on loopback
// and each client it starts (or one started by hand, or through a tunnel)
// connects with -S 127.0.0.1:PORT: and the device's password. The server
// speaks protocol version 3 of the client's channel:
//
//   > PROTOCOL 0003          (the server's first line)
//   < PROTOCOL 0003
//   < AUTH PASSWORD          (nothing else counts before it)
//   < CTORRENT PEERID START NOW PATH   (the client is known: onClient)
//   < CTSTATUS ..., CTBW ..., CTINFO ...  and the answers to what it is asked
//
// A connection that has not given the right password and said who it is
// within authTimeout (on the run loop's clock) is closed and logged; so is
// one with a wrong password, an older protocol, or anything else before its
// password. What the line server bounds (LineServer.h) holds here too.
//
// Ownership: whoever listens owns the server; the server holds its connected
// clients (clients()) and lets go of each when its connection ends. Callbacks
// reach the server weakly: none runs once it is destroyed, and destroying it
// closes every connection without calling anyone's onClosed.
#include "kit/core/ErrorOr.h"
#include "transfers/ControlClient.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kit {
class LineConnection;
class LineServer;
class Timer;
}

class ControlServer : public std::enable_shared_from_this<ControlServer> {
public:
    static constexpr double authTimeout = 5;
    static constexpr int protocolVersion = 3;

    // Listens on 127.0.0.1 at port (0: any free one) for clients that give password.
    static kit::ErrorOr<std::shared_ptr<ControlServer>> listen(uint16_t port, std::string password);
    // Serves on a listening socket handed over (by the port's keeper); the server takes it.
    static kit::ErrorOr<std::shared_ptr<ControlServer>> serve(int listeningSocket, std::string password);
    // The listening socket, for a copy of it to the port's keeper.
    int listeningSocket() const;
    // Listens at the device's port with the device's password (ControlDevice.h),
    // choosing the port on first use and storing it.
    static kit::ErrorOr<std::shared_ptr<ControlServer>> listenForDevice();
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    uint16_t port() const;
    // The connection a client came on was made by process pid (or a child of it).
    static bool comesFrom(const ControlClient& client, pid_t pid);
    // A client said who it is (after its CTORRENT line): on every connection,
    // also a reconnection, which brings back the same object while it is held.
    std::function<void(const std::shared_ptr<ControlClient>&)> onClient;
    // Whether a new connection with a known client's key is that client come
    // back (not set: it is). When it is not, the connection gets a client
    // object of its own and the known one is left as it was.
    std::function<bool(const ControlClient& known, const kit::LineConnection& connection)> sameClient;
    // The clients connected now, in the order they became known.
    std::vector<std::shared_ptr<ControlClient>> clients() const;
    // Connections that have not yet said who they are.
    size_t waitingCount() const { return m_waiting.size(); }
    // The clients' lines are read only on readWaiting() (see LineServer.h),
    // or as they come (the default).
    void setReadsOnDemand(bool onDemand);
    void readWaiting();

private:
    friend class ControlClient;
    struct Private { explicit Private() = default; };

public:
    ControlServer(Private, std::shared_ptr<kit::LineServer> lines, std::string password);

private:
    static kit::ErrorOr<std::shared_ptr<ControlServer>> over(kit::ErrorOr<std::shared_ptr<kit::LineServer>> lines, std::string password);

public:

private:
    struct Waiting {
        std::shared_ptr<kit::LineConnection> connection;
        bool authenticated { false };
        std::shared_ptr<kit::Timer> deadline;
    };

    void connectionArrived(const std::shared_ptr<kit::LineConnection>& connection);
    void waitingLine(uint64_t id, const std::string& line);
    void waitingClosed(uint64_t id, const std::string& reason);
    void timedOut(uint64_t id);
    void drop(uint64_t id, const std::string& why);
    void becomeKnown(uint64_t id, ClientIdentity identity);
    void clientClosed(uint64_t connectionId);
    void refused(const std::string& address, const std::string& why);
    void sayRefusalsLater(const std::string& key);

    // A refusal of one kind is logged once, then counted and said once a minute.
    static constexpr double refusalQuiet = 60;
    static constexpr size_t maxRefusalKinds = 16;
    struct Refusals {
        uint64_t unsaid { 0 };
        std::shared_ptr<kit::Timer> timer;
    };
    std::map<std::string, Refusals> m_refusals;
    uint64_t m_otherRefusals { 0 };

    std::shared_ptr<kit::LineServer> m_lines;
    std::string m_password;
    std::map<uint64_t, Waiting> m_waiting;
    // Connected clients by connection id (ids grow: the map keeps their order).
    std::map<uint64_t, std::shared_ptr<ControlClient>> m_connected;
    // Every client object still held by anyone, by key, for reconnections.
    std::map<std::string, std::weak_ptr<ControlClient>> m_known;
};
