#include "transfers/ControlServer.h"

#include "kit/core/Log.h"
#include "kit/core/Timer.h"
#include "kit/net/LineServer.h"
#include "transfers/ControlDevice.h"

namespace {

bool startsWith(const std::string& line, std::string_view word) { return line.compare(0, word.size(), word) == 0; }

// Takes as long for a wrong password as for a right one of the same length.
bool samePassword(std::string_view given, std::string_view wanted)
{
    unsigned char difference = given.size() == wanted.size() ? 0 : 1;
    for (size_t i = 0; i < given.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ wanted[i % (wanted.empty() ? 1 : wanted.size())]);
    return difference == 0 && !wanted.empty();
}

} // namespace

kit::ErrorOr<std::shared_ptr<ControlServer>> ControlServer::listen(uint16_t port, std::string password)
{
    return over(kit::LineServer::listen(port), std::move(password));
}

kit::ErrorOr<std::shared_ptr<ControlServer>> ControlServer::serve(int listeningSocket, std::string password)
{
    return over(kit::LineServer::adopt(listeningSocket), std::move(password));
}

int ControlServer::listeningSocket() const
{
    return m_lines->listeningSocket();
}

bool ControlServer::comesFrom(const ControlClient& client, pid_t pid)
{
    return client.m_connection && client.m_connection->comesFrom(pid);
}

kit::ErrorOr<std::shared_ptr<ControlServer>> ControlServer::over(kit::ErrorOr<std::shared_ptr<kit::LineServer>> lines, std::string password)
{
    if (password.empty() || password.size() > ControlDevice::passwordLength)
        return kit::Error { "The control channel needs a password of 1 to " + std::to_string(ControlDevice::passwordLength)
                + " characters (the client reads no more)",
            0 };
    if (lines.isError())
        return lines.error();
    auto server = std::make_shared<ControlServer>(Private {}, lines.release(), std::move(password));
    server->m_lines->onConnection = [weak = std::weak_ptr<ControlServer>(server)](const std::shared_ptr<kit::LineConnection>& connection) {
        if (auto self = weak.lock())
            self->connectionArrived(connection);
    };
    return server;
}

kit::ErrorOr<std::shared_ptr<ControlServer>> ControlServer::listenForDevice()
{
    auto password = ControlDevice::password();
    if (password.isError())
        return password.error();
    uint16_t stored = ControlDevice::storedPort();
    auto server = listen(stored, password.release());
    if (server.isError())
        return server.error();
    if (stored == 0)
        ControlDevice::storePort(server.value()->port());
    return server;
}

ControlServer::ControlServer(Private, std::shared_ptr<kit::LineServer> lines, std::string password)
    : m_lines(std::move(lines))
    , m_password(std::move(password))
{
}

ControlServer::~ControlServer()
{
    m_waiting.clear();
    // Closes every connection without calling back.
    m_lines.reset();
}

void ControlServer::setReadsOnDemand(bool onDemand)
{
    m_lines->setReadsOnDemand(onDemand);
}

void ControlServer::readWaiting()
{
    auto self = shared_from_this(); // a line may make the owner let go
    m_lines->readWaiting();
}

uint16_t ControlServer::port() const
{
    return m_lines->port();
}

std::vector<std::shared_ptr<ControlClient>> ControlServer::clients() const
{
    std::vector<std::shared_ptr<ControlClient>> clients;
    for (auto& [id, client] : m_connected)
        clients.push_back(client);
    return clients;
}

void ControlServer::connectionArrived(const std::shared_ptr<kit::LineConnection>& connection)
{
    uint64_t id = connection->id();
    std::weak_ptr<ControlServer> weak = weak_from_this();
    Waiting waiting;
    waiting.connection = connection;
    waiting.deadline = kit::Timer::scheduled(authTimeout, false, [weak, id](kit::Timer&) {
        if (auto self = weak.lock())
            self->timedOut(id);
    });
    connection->onLine = [weak, id](kit::LineConnection&, const std::string& line) {
        if (auto self = weak.lock())
            self->waitingLine(id, line);
    };
    connection->onClosed = [weak, id](kit::LineConnection&, const std::string& reason) {
        if (auto self = weak.lock())
            self->waitingClosed(id, reason);
    };
    m_waiting.emplace(id, std::move(waiting));
    (void)connection->send("PROTOCOL 000" + std::to_string(protocolVersion));
}

void ControlServer::waitingLine(uint64_t id, const std::string& line)
{
    auto it = m_waiting.find(id);
    if (it == m_waiting.end() || line.empty())
        return;
    if (startsWith(line, "PROTOCOL ")) {
        auto version = ControlReports::count(std::string_view(line).substr(9));
        if (!version || line.size() != 13)
            drop(id, "sent a protocol line that could not be read");
        else if (*version < protocolVersion)
            drop(id, "speaks protocol version " + std::to_string(*version) + ", older than " + std::to_string(protocolVersion));
        return;
    }
    if (!it->second.authenticated) {
        if (line == "AUTH" || startsWith(line, "AUTH ")) {
            if (samePassword(line.size() > 5 ? std::string_view(line).substr(5) : std::string_view(), m_password))
                it->second.authenticated = true;
            else
                drop(id, "gave a wrong password");
        } else {
            drop(id, "sent something else before its password");
        }
        return;
    }
    if (startsWith(line, "CTORRENT ")) {
        auto identity = ControlReports::identity(std::string_view(line).substr(9));
        if (!identity)
            drop(id, "said which client it is in a line that could not be read");
        else
            becomeKnown(id, std::move(*identity));
    }
    // Reports before the client said who it is have no one to go to.
}

void ControlServer::waitingClosed(uint64_t id, const std::string& reason)
{
    auto it = m_waiting.find(id);
    if (it == m_waiting.end())
        return;
    // A peer that simply went away is not worth a line; one that broke a bound is.
    if (reason != kit::LineServer::peerClosedReason)
        refused(it->second.connection->peerAddress(), "was closed: " + reason);
    m_waiting.erase(it);
}

void ControlServer::timedOut(uint64_t id)
{
    auto it = m_waiting.find(id);
    if (it == m_waiting.end())
        return;
    drop(id, it->second.authenticated ? "did not say which client it is in time" : "did not authenticate in time");
}

void ControlServer::drop(uint64_t id, const std::string& why)
{
    auto it = m_waiting.find(id);
    if (it == m_waiting.end())
        return;
    auto connection = it->second.connection;
    m_waiting.erase(it);
    refused(connection->peerAddress(), why + "; closed");
    connection->close();
}

void ControlServer::refused(const std::string& address, const std::string& why)
{
    // Anyone on the machine can connect: a flood of refusals is said once a
    // minute with its count, not once each, so that it cannot fill the log.
    const std::string key = address + " " + why;
    if (auto known = m_refusals.find(key); known != m_refusals.end()) {
        ++known->second.unsaid;
        return;
    }
    if (m_refusals.size() >= maxRefusalKinds) {
        ++m_otherRefusals;
        return;
    }
    kit::log("Control channel: a connection from " + key);
    sayRefusalsLater(key);
}

void ControlServer::sayRefusalsLater(const std::string& key)
{
    auto& refusals = m_refusals[key];
    refusals.unsaid = 0;
    refusals.timer = kit::Timer::scheduled(refusalQuiet, false, [weak = weak_from_this(), key](kit::Timer&) {
        auto self = weak.lock();
        if (!self)
            return;
        auto it = self->m_refusals.find(key);
        if (it == self->m_refusals.end())
            return;
        if (it->second.unsaid == 0) {
            self->m_refusals.erase(it);
            if (self->m_otherRefusals > 0 && self->m_refusals.empty()) {
                kit::log("Control channel: " + std::to_string(self->m_otherRefusals) + " more connections were refused for other reasons");
                self->m_otherRefusals = 0;
            }
            return;
        }
        kit::log("Control channel: " + std::to_string(it->second.unsaid) + " more connections in the last minute: from " + key);
        self->sayRefusalsLater(key);
    });
}

void ControlServer::becomeKnown(uint64_t id, ClientIdentity identity)
{
    auto it = m_waiting.find(id);
    if (it == m_waiting.end())
        return;
    auto connection = it->second.connection;
    m_waiting.erase(it);

    for (auto known = m_known.begin(); known != m_known.end();)
        known = known->second.expired() ? m_known.erase(known) : std::next(known);
    std::string key = ControlClient::keyOf(identity);
    auto client = m_known[key].lock();
    // A key is no proof: a peer id travels to every peer and tracker. A
    // connection that is not the known client's own gets an object of its own.
    bool stranger = false;
    if (client && sameClient && !sameClient(*client, *connection)) {
        client.reset();
        stranger = true;
    }
    if (client && client->m_connection) {
        // The same client on a second connection: the old one is stale.
        uint64_t old = client->m_connection->id();
        client->m_connection->close();
        client->m_connection.reset();
        m_connected.erase(old);
    }
    if (!client)
        client = std::make_shared<ControlClient>(ControlClient::Private {}, weak_from_this(), identity);
    if (!stranger)
        m_known[key] = client;
    m_connected[id] = client;
    kit::log("Control channel: client " + identity.peerId + " connected from " + connection->peerAddress() + " for "
        + ControlReports::printable(identity.torrentPath));
    client->attach(connection, std::move(identity));
    if (auto callback = onClient)
        callback(client);
}

void ControlServer::clientClosed(uint64_t connectionId)
{
    m_connected.erase(connectionId);
}
