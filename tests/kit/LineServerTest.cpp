// The line server against peers that break its bounds, with plain sockets as
// the peers.
#include "kit/net/LineServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopTest.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using testsupport::LoopTest;

int connectTo(uint16_t port, int receiveBuffer = 0)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

void write(int fd, const std::string& bytes)
{
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
}

// What the peer has been sent so far; closed set once the server closed it.
std::string take(int fd, bool* closed = nullptr)
{
    std::string got;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            got.append(buffer, size_t(n));
            continue;
        }
        if (n == 0 && closed)
            *closed = true;
        return got;
    }
}

class LineServerTest : public LoopTest { };

TEST_F(LineServerTest, LinesOfEveryShapeAndWhatMayBeSent)
{
    auto listened = kit::LineServer::listen(0);
    ASSERT_FALSE(listened.isError()) << listened.error().message;
    auto server = listened.release();
    ASSERT_NE(server->port(), 0);

    // A port another program holds is refused in the system's words.
    auto again = kit::LineServer::listen(server->port());
    ASSERT_TRUE(again.isError());
    EXPECT_EQ(again.error().message, "Cannot listen on 127.0.0.1:" + std::to_string(server->port()) + ": Address already in use");

    std::vector<std::string> lines;
    std::vector<std::string> reasons;
    std::shared_ptr<kit::LineConnection> connection;
    server->onConnection = [&](const std::shared_ptr<kit::LineConnection>& c) {
        connection = c;
        c->onLine = [&](kit::LineConnection&, const std::string& line) { lines.push_back(line); };
        c->onClosed = [&](kit::LineConnection&, const std::string& reason) { reasons.push_back(reason); };
    };
    int peer = connectTo(server->port());
    std::string longest(kit::LineServer::maxLineLength, 'x');
    write(peer, "one\r\ntwo\n\n" + longest + "\r\nhalf");
    ASSERT_TRUE(waitFor([&] { return lines.size() == 4; }));
    EXPECT_EQ(lines, (std::vector<std::string> { "one", "two", "", longest }));
    EXPECT_EQ(connection->peerAddress(), "127.0.0.1");

    // Only short printable ASCII goes out; the rest is refused, not sent.
    for (std::string bad : { std::string(kit::LineServer::maxSendLength + 1, 'a'), std::string("SET\0X", 5),
             std::string("a\nb"), std::string("a\rb"), std::string("\x1b[2J"), std::string("caf\xc3\xa9"),
             std::string("del\x7f") })
        EXPECT_TRUE(connection->send(bad).isError()) << bad;
    ASSERT_FALSE(connection->send(std::string(kit::LineServer::maxSendLength, 'b')).isError());
    ASSERT_FALSE(connection->send("SENDSTATUS").isError());
    std::string received;
    ASSERT_TRUE(waitFor([&] { return (received += take(peer)).size() == kit::LineServer::maxSendLength + 12; }));
    EXPECT_EQ(received, std::string(kit::LineServer::maxSendLength, 'b') + "\nSENDSTATUS\n");

    // One byte past the longest line closes the connection, told once.
    write(peer, "ful" + longest);
    ASSERT_TRUE(waitFor([&] { return !reasons.empty(); }));
    EXPECT_EQ(reasons, (std::vector<std::string> { "a line longer than 4096 bytes" }));
    EXPECT_EQ(lines.size(), 4u);
    EXPECT_FALSE(connection->isOpen());
    EXPECT_TRUE(connection->send("SENDSTATUS").isError());
    EXPECT_EQ(server->connectionCount(), 0u);
    bool closed = false;
    ASSERT_TRUE(waitFor([&] { return take(peer, &closed), closed; }));
    ::close(peer);

    // The owner may let go of the server from inside a line's callback.
    server->onConnection = [&](const std::shared_ptr<kit::LineConnection>& c) {
        c->onLine = [&](kit::LineConnection&, const std::string&) { server.reset(); };
    };
    peer = connectTo(server->port());
    write(peer, "bye\nnot read\n");
    ASSERT_TRUE(waitFor([&] { return !server; }));
    closed = false;
    ASSERT_TRUE(waitFor([&] { return take(peer, &closed), closed; }));
    ::close(peer);
}

TEST_F(LineServerTest, OnDemandLinesWaitForTheReadAndAGonePeerIsSeenThere)
{
    auto server = kit::LineServer::listen(0).release();
    server->setReadsOnDemand(true);
    std::vector<std::string> lines;
    std::string reason;
    std::shared_ptr<kit::LineConnection> connection;
    server->onConnection = [&](const std::shared_ptr<kit::LineConnection>& c) {
        connection = c;
        c->onLine = [&](kit::LineConnection&, const std::string& line) { lines.push_back(line); };
        c->onClosed = [&](kit::LineConnection&, const std::string& why) { reason = why; };
    };
    int peer = connectTo(server->port());
    ASSERT_TRUE(waitFor([&] { return connection != nullptr; })) << "connections are still taken as they come";
    auto turns = [] {
        for (int turn = 0; turn < 3; ++turn)
            kit::RunLoop::main().runOnce(0);
    };
    // On loopback the bytes wait at the server once send() has returned.
    write(peer, "CTBW 1\nCTSTATUS 2\n");
    turns();
    EXPECT_TRUE(lines.empty());
    server->readWaiting();
    EXPECT_EQ(lines, (std::vector<std::string> { "CTBW 1", "CTSTATUS 2" }));

    // Back to reading as they come: what waited is read at once, and what follows as it comes.
    write(peer, "three\n");
    server->setReadsOnDemand(false);
    EXPECT_EQ(lines.size(), 3u);
    write(peer, "four\n");
    ASSERT_TRUE(waitFor([&] { return lines.size() == 4; }));

    // A peer gone while nobody reads is seen at the next read, with its last line.
    server->setReadsOnDemand(true);
    write(peer, "five\n");
    ::close(peer);
    turns();
    EXPECT_TRUE(reason.empty());
    server->readWaiting();
    EXPECT_EQ(lines.back(), "five");
    EXPECT_EQ(reason, kit::LineServer::peerClosedReason);
    EXPECT_EQ(server->connectionCount(), 0u);
}

TEST_F(LineServerTest, APeerThatDoesNotReadIsClosedAndTheLoopGoesOn)
{
    testsupport::LogCapture log;
    auto server = kit::LineServer::listen(0).release();
    std::shared_ptr<kit::LineConnection> stuck;
    std::string reason;
    server->onConnection = [&](const std::shared_ptr<kit::LineConnection>& c) {
        stuck = c;
        c->onClosed = [&](kit::LineConnection&, const std::string& why) { reason = why; };
    };
    int peer = connectTo(server->port(), 4096);
    ASSERT_TRUE(waitFor([&] { return stuck != nullptr; }));

    // Sends never block: the output piles up until it passes the bound.
    std::string line(1000, 'z');
    int sent = 0;
    while (sent < 100000 && !stuck->send(line).isError())
        ++sent;
    EXPECT_LT(sent, 100000);
    EXPECT_FALSE(stuck->isOpen());
    EXPECT_TRUE(reason.empty()); // told on the loop, not inside send()
    ASSERT_TRUE(waitFor([&] { return !reason.empty(); }));
    EXPECT_EQ(reason, "more than 65536 bytes unsent (the peer does not read)");
    EXPECT_EQ(server->connectionCount(), 0u);
    ::close(peer);

    // The server still serves a peer that behaves.
    std::vector<std::string> lines;
    server->onConnection = [&](const std::shared_ptr<kit::LineConnection>& c) {
        c->onLine = [&lines](kit::LineConnection& self, const std::string& got) {
            lines.push_back(got);
            (void)self.send("echo " + got);
        };
    };
    peer = connectTo(server->port());
    write(peer, "ping\n");
    std::string echo;
    ASSERT_TRUE(waitFor([&] { return (echo += take(peer)) == "echo ping\n"; }));
    ::close(peer);
}

} // namespace
