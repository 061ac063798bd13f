// The gateway end to end on loopback: the test is the transfer client (HTTP
// announces to the gateway) and the trackers (a UDP one and an HTTP one
// written here, and a silent one). Time-outs and back-off run on the manual
// clock; only real I/O is waited for.
#include "swarm/Gateway.h"

#include "kit/core/RunLoop.h"
#include "kit/net/HttpListener.h"
#include "kit/net/HttpRequest.h"
#include "kit/net/UdpSocket.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopTest.h"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <csignal>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace swarm;

namespace {

constexpr uint16_t clientPort = 52413;
const std::string infoHash = "0123456789abcdefghij";

std::string u32(uint32_t v)
{
    return { char(v >> 24), char(v >> 16), char(v >> 8), char(v) };
}

uint32_t getU32(const std::string& bytes, size_t at)
{
    return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 | uint32_t(uint8_t(bytes[at + 2])) << 8
        | uint8_t(bytes[at + 3]);
}

std::string peerBytes(const std::vector<Peer>& peers)
{
    std::string out;
    for (const auto& p : peers)
        out += u32(p.address) + char(p.port >> 8) + char(p.port);
    return out;
}

// A UDP tracker: connect, then announce; it keeps the announces it got.
struct FakeUdpTracker {
    std::unique_ptr<kit::UdpSocket> socket = kit::UdpSocket::open(INADDR_LOOPBACK).release();
    bool silent = false;
    std::vector<Peer> peers;
    std::vector<std::string> connects, announces;

    FakeUdpTracker()
    {
        socket->onDatagram = [this](const sockaddr_in& from, std::string_view bytes) {
            std::string request(bytes);
            if (request.size() == 16 && request.substr(0, 8) == std::string("\x00\x00\x04\x17\x27\x10\x19\x80", 8)) {
                connects.push_back(request);
                if (!silent)
                    (void)socket->sendTo(from, u32(0) + request.substr(12, 4) + "CONNECT!");
            } else if (request.size() >= 98 && request.substr(0, 8) == "CONNECT!" && getU32(request, 8) == 1) {
                announces.push_back(request);
                if (!silent)
                    (void)socket->sendTo(from, u32(1) + request.substr(12, 4) + u32(1800) + u32(9) + u32(3) + peerBytes(peers));
            }
        };
    }
    std::string url(const std::string& pathAndQuery, const std::string& host = "127.0.0.1") const
    {
        return "udp://" + host + ":" + std::to_string(socket->port()) + pathAndQuery;
    }
    static uint32_t event(const std::string& announce) { return getU32(announce, 80); }
    static uint16_t port(const std::string& announce) { return uint16_t(uint8_t(announce[96]) << 8 | uint8_t(announce[97])); }
};

// An HTTP tracker answering every announce with the same compact answer.
struct FakeHttpTracker {
    std::shared_ptr<kit::HttpListener> listener = kit::HttpListener::listen(0).release();
    std::string answer;
    std::vector<std::string> targets;

    FakeHttpTracker()
    {
        listener->onRequest = [this](const std::shared_ptr<kit::HttpExchange>& exchange) {
            targets.push_back(exchange->target());
            exchange->respond(200, "text/plain", answer);
        };
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(listener->port()) + path; }
};

struct Reply {
    int status = 0;
    std::string body;
    bool done = false;
};

class SwarmTest : public testsupport::LoopTest {
protected:
    void SetUp() override
    {
        auto made = Gateway::listen(0);
        ASSERT_FALSE(made.isError()) << made.error().message;
        gateway = made.release();
        gateway->shufflesTiers = false;
    }

    static std::string escape(const std::string& bytes)
    {
        static const char* digits = "0123456789ABCDEF";
        std::string out;
        for (unsigned char c : bytes)
            out += std::string("%") + digits[c >> 4] + digits[c & 15];
        return out;
    }
    std::string query(const std::string& hash, uint64_t left, const std::string& event = "") const
    {
        return "?info_hash=" + escape(hash) + "&peer_id=" + escape("-CD0303-abcdefghijkl") + "&port=" + std::to_string(clientPort)
            + "&key=1a2b3c4d&uploaded=0&downloaded=0&left=" + std::to_string(left) + (event.empty() ? "" : "&event=" + event)
            + "&compact=1&numwant=100";
    }
    // Announces as the client does, and waits for the answer.
    Reply announce(const std::string& token, const std::string& tail)
    {
        Reply reply;
        auto request = kit::HttpRequest::create(gateway->announceUrl(token) + tail);
        request->onResponse = [&](int status) { reply.status = status; };
        request->onData = [&](const uint8_t* b, size_t n) { reply.body.append(reinterpret_cast<const char*>(b), n); };
        request->onFinish = [&] { reply.done = true; };
        request->onFailure = [&] { reply.done = true; };
        EXPECT_TRUE(request->start());
        EXPECT_TRUE(waitFor([&] { return reply.done; }));
        return reply;
    }
    const TrackerRow* row(const std::string& token, const std::string& host)
    {
        rowsSeen = gateway->rows(token);
        for (const auto& r : rowsSeen)
            if (r.host == host)
                return &r;
        return nullptr;
    }

    std::unique_ptr<Gateway> gateway;
    std::vector<TrackerRow> rowsSeen;
};

} // namespace

TEST_F(SwarmTest, GathersFromEveryTierFallsBackWithinATierAndSaysGoodbye)
{
    testsupport::LogCapture log;
    FakeUdpTracker dead, udp;
    dead.silent = true;
    udp.peers = { { 0x7f000002, 7001 }, { 0x7f000001, clientPort }, { 0x0a010203, 80 } };
    FakeHttpTracker http;
    http.answer = "d8:completei5e10:incompletei6e8:intervali900e5:peers6:" + peerBytes({ { 0x7f000003, 7002 } }) + "e";
    // Named, so that its address is looked up off the loop.
    const std::string udpHost = "localhost:" + std::to_string(udp.socket->port());
    const std::string deadHost = "127.0.0.1:" + std::to_string(dead.socket->port());
    const std::string httpHost = "127.0.0.1:" + std::to_string(http.listener->port());

    std::vector<std::string> changes;
    gateway->onChanged = [&](const std::string& token) { changes.push_back(token); };
    const std::string token = Gateway::newToken();
    ASSERT_EQ(token.size(), 24u);
    ASSERT_NE(token, Gateway::newToken());
    ASSERT_TRUE(gateway->add(token, { infoHash, { { dead.url("/announce"), http.url("/s3cretPasskey/announce") }, { udp.url("/announce?key=s3cretUdp", "localhost") } }, true, false }));
    ASSERT_EQ(gateway->rows(token).size(), 3u);
    EXPECT_EQ(gateway->rows(token)[0].answer, "Not asked yet");
    EXPECT_EQ(gateway->rows(token)[0].next, "") << "nothing is asked before the client announces";

    // The first announce waits for the first tracker answer rather than
    // come back empty; the client's own address is left out.
    Reply first = announce(token, query(infoHash, 1000, "started"));
    ASSERT_EQ(first.status, 200);
    auto answer = parseHttpAnswer(first.body);
    ASSERT_TRUE(answer) << first.body;
    std::sort(answer->peers.begin(), answer->peers.end());
    EXPECT_EQ(answer->peers, (std::vector<Peer> { { 0x0a010203, 80 }, { 0x7f000002, 7001 } }));
    EXPECT_LE(answer->interval, 120u) << "few peers: the client is asked back soon";
    ASSERT_EQ(udp.announces.size(), 1u);
    EXPECT_EQ(FakeUdpTracker::event(udp.announces[0]), 2u) << "started";
    EXPECT_EQ(FakeUdpTracker::port(udp.announces[0]), clientPort);
    EXPECT_EQ(udp.announces[0].substr(16, 20), infoHash);
    EXPECT_EQ(udp.announces[0].substr(98), std::string("\x02\x17/announce?key=s3cretUdp", 25)) << "the path and query as BEP 41 has them";
    EXPECT_EQ(dead.connects.size(), 1u);
    EXPECT_TRUE(http.targets.empty()) << "the second of a tier waits for the first to fail";
    EXPECT_EQ(row(token, deadHost)->next, "now");

    // The first of the first tier never answers: after the attempt's time
    // (a resend on the way) the next of its tier is asked and takes the lead.
    env.advance(Gateway::attemptTime);
    EXPECT_GE(dead.connects.size(), 2u);
    ASSERT_TRUE(waitFor([&] { return row(token, httpHost)->answer == "1 peer, 5 seeders, 6 leechers"; }));
    EXPECT_EQ(rowsSeen[0].host, httpHost) << "the one that answered leads its tier";
    EXPECT_EQ(row(token, deadHost)->answer, "Timed out");
    EXPECT_EQ(row(token, udpHost)->answer, "3 peers, 3 seeders, 9 leechers");
    ASSERT_EQ(http.targets.size(), 1u);
    EXPECT_EQ(http.targets[0].rfind("/s3cretPasskey/announce?info_hash=" + infoHash + "&", 0), 0u);
    EXPECT_NE(http.targets[0].find("&port=" + std::to_string(clientPort) + "&"), std::string::npos);
    EXPECT_NE(http.targets[0].find("&event=started"), std::string::npos);
    EXPECT_EQ(gateway->counts(token)->seeders, 5u);
    EXPECT_EQ(gateway->counts(token)->leechers, 9u);
    EXPECT_EQ(gateway->note(token), "");
    EXPECT_EQ(gateway->peerCount(token), 3u);
    // The late answer brought a peer the client has not had: it is called
    // back once it would listen, and not again at once.
    EXPECT_FALSE(gateway->wantsAnnounce(token)) << "the client would not listen yet";
    env.advance(Gateway::clientDeaf - Gateway::attemptTime);
    EXPECT_TRUE(gateway->wantsAnnounce(token));
    EXPECT_FALSE(gateway->wantsAnnounce(token));
    EXPECT_FALSE(gateway->addPeers(token, { { 0x0a000009, 9 } }, PeerSource::Dht)) << "a private torrent's peers come from its trackers only";
    Reply second = announce(token, query(infoHash, 500));
    EXPECT_EQ(parseHttpAnswer(second.body)->peers.size(), 3u);
    EXPECT_FALSE(changes.empty());
    EXPECT_EQ(changes.front(), token);

    // The client never says "completed": left reaching 0 does, at once, to those told "started".
    announce(token, query(infoHash, 0));
    ASSERT_TRUE(waitFor([&] { return udp.announces.size() == 2 && http.targets.size() == 2; }));
    EXPECT_EQ(FakeUdpTracker::event(udp.announces[1]), 1u);
    EXPECT_NE(http.targets[1].find("&left=0&"), std::string::npos);
    EXPECT_NE(http.targets[1].find("&event=completed"), std::string::npos);
    // Another announce within the trackers' min interval asks nobody.
    announce(token, query(infoHash, 0));
    env.advance(1);
    EXPECT_EQ(udp.announces.size(), 2u);

    // Added again without the silent one: the others keep what they know and are not told "started" again.
    ASSERT_TRUE(gateway->add(token, { infoHash, { { http.url("/s3cretPasskey/announce") }, { udp.url("/announce?key=s3cretUdp", "localhost") } }, true, false }));
    EXPECT_EQ(gateway->rows(token).size(), 2u);
    EXPECT_EQ(row(token, udpHost)->answer, "3 peers, 3 seeders, 9 leechers");
    announce(token, query(infoHash, 0));
    env.advance(1);
    EXPECT_EQ(udp.announces.size(), 2u);
    EXPECT_EQ(http.targets.size(), 2u);

    // Gone: "stopped" to those told "started", and the token is forgotten.
    gateway->remove(token);
    EXPECT_TRUE(gateway->rows(token).empty());
    ASSERT_TRUE(waitFor([&] { return udp.announces.size() == 3 && http.targets.size() == 3; }));
    EXPECT_EQ(FakeUdpTracker::event(udp.announces[2]), 3u);
    EXPECT_NE(http.targets[2].find("&event=stopped"), std::string::npos);
    EXPECT_EQ(announce(token, query(infoHash, 0)).status, 404);

    // A private tracker's key is never shown or logged.
    for (const auto& line : log.lines())
        EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
    for (const auto& r : rowsSeen)
        EXPECT_EQ(r.host.find("s3cret"), std::string::npos) << r.host;
    EXPECT_TRUE(std::any_of(log.lines().begin(), log.lines().end(), [&](const std::string& line) {
        return line.find("udp://" + deadHost + ": Timed out") != std::string::npos;
    }));
}

TEST_F(SwarmTest, StrangersAndFloodsAreRefusedWithinBoundsAndAGoodAnnounceStillAnswersAtOnce)
{
    FakeHttpTracker http;
    http.answer = "d8:intervali900e5:peers6:" + peerBytes({ { 0x7f000003, 7002 } }) + "e";
    const std::string token = Gateway::newToken(), refusedToken = Gateway::newToken(), unreachable = Gateway::newToken();
    ASSERT_TRUE(gateway->add(token, { infoHash, { { http.url("/announce") } }, false, false }));
    ASSERT_TRUE(gateway->add(refusedToken, { infoHash, { { http.url("/announce") } }, false, false }));
    // Port 1 on loopback: nobody listens there.
    ASSERT_TRUE(gateway->add(unreachable, { infoHash, { { "http://127.0.0.1:1/announce" }, { "http://127.0.0.1:1/other" } }, false, false }));
    EXPECT_FALSE(gateway->add("not a token!", { infoHash, {}, false, false }));
    // Only the transfer's own client: here, this very process, not another made before the client's socket.
    pid_t other = ::fork();
    if (other == 0) {
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(other, 0);
    struct Reap {
        pid_t pid;
        ~Reap()
        {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } reap { other };
    gateway->acceptsPeer = [&](const std::string& t, const sockaddr_in& peer) {
        EXPECT_EQ(peer.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
        EXPECT_FALSE(gateway->comesFrom(peer, other));
        return t != refusedToken && gateway->comesFrom(peer, ::getpid());
    };

    // A service started anew takes the listening socket the keeper held; only a listening one.
    {
        auto again = Gateway::adopt(::dup(gateway->listeningSocket()));
        ASSERT_FALSE(again.isError()) << again.error().message;
        EXPECT_EQ(again.value()->port(), gateway->port());
        EXPECT_EQ(again.value()->announceUrl("T"), "http://127.0.0.1:" + std::to_string(gateway->port()) + "/T/announce");
        EXPECT_TRUE(Gateway::adopt(::socket(AF_INET, SOCK_STREAM, 0)).isError());
    }
    EXPECT_EQ(announce(Gateway::newToken(), query(infoHash, 1)).status, 404);
    EXPECT_EQ(announce(refusedToken, query(infoHash, 1)).status, 403);
    Reply wrongHash = announce(token, query("ABCDEFGHIJ0123456789", 1));
    EXPECT_EQ(wrongHash.status, 200);
    EXPECT_TRUE(parseHttpAnswer(wrongHash.body)->failed);
    EXPECT_TRUE(http.targets.empty()) << "a refused announce asks no tracker";

    // Every tracker tried, none answering: the note says why.
    announce(unreachable, query(infoHash, 1, "started"));
    ASSERT_TRUE(waitFor([&] { return !gateway->note(unreachable).empty(); }));
    EXPECT_EQ(gateway->note(unreachable), "No tracker answers: Could not connect");
    EXPECT_EQ(gateway->rows(unreachable)[0].next, "in 18 s") << "back-off after the first failure";

    // A thousand bad requests, fifty at a time: each is answered and closed.
    const std::vector<std::string> bad = {
        "GARBAGE\r\n\r\n",
        "GET /" + token + "/announce?info_hash=%zz HTTP/1.0\r\n\r\n",
        "GET /" + token + "/scrape HTTP/1.0\r\n\r\n",
        "POST /" + token + "/announce HTTP/1.0\r\n\r\n",
        "GET /" + Gateway::newToken() + "/announce" + query(infoHash, 1) + " HTTP/1.0\r\n\r\n",
        "GET /" + token + "/announce?" + std::string(9000, 'a'),
    };
    auto connectTo = [&]() {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(gateway->port());
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
        return fd;
    };
    size_t answered = 0, closedWithoutAnswer = 0, mostOpen = 0;
    for (int batch = 0; batch < 20; ++batch) {
        std::vector<std::pair<int, std::string>> open;
        for (int i = 0; i < 50; ++i) {
            int fd = connectTo();
            const std::string& request = bad[(batch * 50 + i) % bad.size()];
            (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
            open.emplace_back(fd, "");
        }
        size_t left = open.size();
        ASSERT_TRUE(waitFor([&] {
            mostOpen = std::max(mostOpen, gateway->connectionCount());
            for (auto& [fd, got] : open) {
                if (fd < 0)
                    continue;
                char buffer[4096];
                ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n > 0) {
                    got.append(buffer, size_t(n));
                } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                    (got.rfind("HTTP/1.0 ", 0) == 0 ? answered : closedWithoutAnswer)++;
                    ::close(fd);
                    fd = -1;
                    --left;
                }
            }
            return left == 0;
        }));
    }
    EXPECT_EQ(answered, 1000u);
    EXPECT_EQ(closedWithoutAnswer, 0u);
    EXPECT_LE(mostOpen, kit::HttpListener::maxConnections);

    // Connections that say nothing fill the room; more are turned away, and
    // the silent ones are closed once their time is up.
    std::vector<int> idle;
    for (size_t i = 0; i < kit::HttpListener::maxConnections + 10; ++i)
        idle.push_back(connectTo());
    ASSERT_TRUE(waitFor([&] { return gateway->connectionCount() == kit::HttpListener::maxConnections && gateway->refusedCount() >= 10; }));
    env.advance(kit::HttpListener::headTimeout);
    EXPECT_EQ(gateway->connectionCount(), 0u);
    for (int fd : idle)
        ::close(fd);

    auto started = std::chrono::steady_clock::now();
    Reply good = announce(token, query(infoHash, 1, "started"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(good.status, 200);
    ASSERT_TRUE(parseHttpAnswer(good.body));
    EXPECT_EQ(parseHttpAnswer(good.body)->peers, (std::vector<Peer> { { 0x7f000003, 7002 } }));
    // Peers from elsewhere join a public torrent's answers.
    EXPECT_TRUE(gateway->addPeers(token, { { 0x0a000009, 9 } }, PeerSource::Dht));
    EXPECT_EQ(parseHttpAnswer(announce(token, query(infoHash, 1)).body)->peers.size(), 2u);
    // Each is counted by where it was heard of, a peer named twice under both.
    EXPECT_TRUE(gateway->addPeers(token, { { 0x7f000003, 7002 } }, PeerSource::Magnet));
    EXPECT_EQ(gateway->sourceCounts(token), (SourceCounts { 1, 1, 1 }));
}
