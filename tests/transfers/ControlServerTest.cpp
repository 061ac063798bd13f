// The control server: against hostile connections (plain sockets), with a
// client that reconnects, and with the real transfer client.
#include "transfers/ControlDevice.h"
#include "transfers/ControlServer.h"

#include "kit/core/DeviceLayout.h"
#include "kit/core/UserDefaults.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopTest.h"
#include "tests/support/TempFolder.h"

#include <arpa/inet.h>
#include <cmath>
#include <filesystem>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using testsupport::LogCapture;
using testsupport::LoopTest;

constexpr const char* password = "Secret7Secret7Secret";

// Bytes with a NUL among them.
template<size_t N>
std::string bytes(const char (&text)[N])
{
    return std::string(text, N - 1);
}

// A peer on a plain socket: it writes what a test says and collects what the
// server sends.
class Peer {
public:
    explicit Peer(uint16_t port, bool blocking = true)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int rc = ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        EXPECT_TRUE(rc == 0 || errno == EINPROGRESS) << std::strerror(errno);
        ::fcntl(m_fd, F_SETFL, O_NONBLOCK);
    }
    ~Peer() { ::close(m_fd); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // Writes as much as the server takes now; the rest is dropped.
    size_t write(const std::string& bytes)
    {
        ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        return n > 0 ? size_t(n) : 0;
    }
    // Takes what has arrived; true once the server closed.
    bool poll()
    {
        char buffer[4096];
        for (;;) {
            ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                m_received.append(buffer, size_t(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOTCONN))
                m_closed = true;
            return m_closed;
        }
    }
    bool closed() { return poll(); }
    // The next whole line sent, if one has arrived.
    std::optional<std::string> line()
    {
        poll();
        size_t end = m_received.find('\n');
        if (end == std::string::npos)
            return std::nullopt;
        std::string line = m_received.substr(0, end);
        m_received.erase(0, end + 1);
        return line;
    }
    const std::string& received() const { return m_received; }

private:
    int m_fd;
    std::string m_received;
    bool m_closed { false };
};

std::string nextLine(Peer& peer, double seconds = 2)
{
    std::optional<std::string> line;
    kit::RunLoop::main().runUntil([&] { return (line = peer.line()).has_value() || peer.closed(); }, seconds);
    return line.value_or("(nothing)");
}

class ControlServerTest : public LoopTest {
protected:
    void listen()
    {
        auto listened = ControlServer::listen(0, password);
        ASSERT_FALSE(listened.isError()) << listened.error().message;
        server = listened.release();
        server->onClient = [this](const std::shared_ptr<ControlClient>& c) {
            client = c;
            ++clientCalls;
            c->onReport = [this](ControlClient&) { ++reports; };
            c->onClosed = [this](ControlClient&) { ++closes; };
        };
    }

    // A peer that speaks as the client does, up to its identity.
    std::unique_ptr<Peer> knownPeer(const std::string& identity)
    {
        auto peer = std::make_unique<Peer>(server->port());
        EXPECT_EQ(nextLine(*peer), "PROTOCOL 0003");
        int before = clientCalls;
        peer->write("PROTOCOL 0003\nAUTH " + std::string(password) + "\n\nCTORRENT " + identity + "\n");
        EXPECT_TRUE(waitFor([&] { return clientCalls > before; }, 2));
        return peer;
    }

    // The loop answers the well-behaved client: a status asked for arrives and is read.
    void roundTrip(Peer& peer, int have)
    {
        ASSERT_TRUE(client && client->askStatus());
        ASSERT_EQ(nextLine(peer), "SENDSTATUS");
        peer.write("CTSTATUS 1:2/3:4/5 " + std::to_string(have) + "/144/150 150206,10 1851392,20 0,5120 256\n");
        ASSERT_TRUE(waitFor([&] { return client->status() && client->status()->piecesHave == have; }, 1))
            << "no answer within a second while hostile peers were about";
    }

    std::shared_ptr<ControlServer> server;
    std::shared_ptr<ControlClient> client;
    int clientCalls { 0 };
    int reports { 0 };
    int closes { 0 };
};

TEST_F(ControlServerTest, HostileConnectionsAreClosedWhileAWellBehavedClientIsAnswered)
{
    LogCapture log;
    listen();
    auto good = knownPeer("-CD0303-0xF8A01255DB4CC9E33F674250 1796846734 1796846735 /srv/with blanks/multi.torrent");
    ASSERT_TRUE(client);
    EXPECT_EQ(client->peerId(), "-CD0303-0xF8A01255DB4CC9E33F674250");
    EXPECT_EQ(client->startTime(), 1796846734);
    EXPECT_EQ(client->torrentPath(), "/srv/with blanks/multi.torrent");
    EXPECT_EQ(client->key(), "-CD0303-0xF8A01255DB4CC9E33F674250 1796846734");
    roundTrip(*good, 1);
    EXPECT_EQ(*client->status(), (ClientStatus { 1, 2, 3, 4, 5, 1, 144, 144, 150206, 10, 1851392, 20, 0, 5120, 256 }));

    // Each of these is closed at once, and said so in the log.
    struct Case {
        std::string bytes, logged;
    } cases[] = {
        { "\xff\xfe\x01garbage\n", "sent something else before its password" },
        { bytes("PROTOCOL 0003\nAUTH Secret7\0Secret7Secret\n"), "gave a wrong password" },
        { "PROTOCOL 0003\nAUTH nope\n", "gave a wrong password" },
        { "PROTOCOL 0003\nCTORRENT -CD0303-0x00 1 1 /x.torrent\n", "sent something else before its password" },
        { "PROTOCOL 0001\nAUTH Secret7Secret7Secret\n", "speaks protocol version 1, older than 3" },
        { "PROTOCOL 0003\nAUTH " + std::string(password) + "\nCTORRENT nonsense\n", "said which client it is in a line that could not be read" },
    };
    int have = 2;
    for (auto& c : cases) {
        Peer hostile(server->port());
        hostile.write(c.bytes);
        ASSERT_TRUE(waitFor([&] { return hostile.closed(); }, 2)) << c.logged;
        EXPECT_TRUE(log.contains("Control channel: a connection from 127.0.0.1 " + c.logged + "; closed")) << c.logged;
        roundTrip(*good, have++);
    }

    // A line of a mebibyte is cut off after its first 4 KiB.
    {
        Peer flood(server->port());
        std::string mebibyte = "PROTOCOL 0003\n" + std::string(1 << 20, 'A');
        size_t written = 0;
        ASSERT_TRUE(waitFor([&] { return (written += flood.write(mebibyte.substr(written))), flood.closed(); }, 5));
        EXPECT_TRUE(log.contains("Control channel: a connection from 127.0.0.1 was closed: a line longer than 4096 bytes"));
        roundTrip(*good, have++);
    }

    // A known client's malformed lines are ignored, logged once, and change nothing.
    auto before = *client->status();
    good->write(bytes("CTSTATUS 1:2/3:4/5 2\0/144/150 1,1 1,1 0,0 1\n") + "CTSTATUS 1:2/3:4/5 9/144 1,1 1,1 0,0 1\n"
        + "CTSTATUS 1:2/3:4/5 99999/144/150 1,1 1,1 0,0 1\nCTFILE 1 0 0 1 1 1 1 outside.bin\nCTPEER x\n");
    roundTrip(*good, have++);
    before.piecesHave = have - 1;
    EXPECT_EQ(*client->status(), before);
    EXPECT_FALSE(client->detail());
    size_t ignored = 0;
    for (auto& line : log.lines())
        ignored += line.find("Control channel: ignored a line from client -CD0303-0xF8A01255DB4CC9E33F674250") != std::string::npos;
    EXPECT_EQ(ignored, 1u);

    // A thousand connections at once: the server keeps 64 open and closes the rest at once.
    log.clear();
    {
        std::vector<std::unique_ptr<Peer>> crowd;
        for (int i = 0; i < 1000; ++i)
            crowd.push_back(std::make_unique<Peer>(server->port(), false));
        roundTrip(*good, have++); // while the crowd waits to be accepted
        int accepted = 0, refused = 0;
        ASSERT_TRUE(waitFor([&] {
            accepted = refused = 0;
            for (auto& peer : crowd) {
                if (peer->closed())
                    ++refused;
                else if (peer->received() == "PROTOCOL 0003\n")
                    ++accepted;
            }
            return accepted + refused == 1000;
        }, 30));
        EXPECT_EQ(accepted, 63); // the good client holds the 64th
        EXPECT_EQ(refused, 937);
        size_t full = 0;
        for (auto& line : log.lines())
            full += line.find("64 connections are open; further ones are closed") != std::string::npos;
        EXPECT_EQ(full, 1u);

        // Those that never authenticate are closed after five seconds of the loop's clock.
        kit::RunLoop::main().advance(4.9);
        for (auto& peer : crowd)
            EXPECT_FALSE(peer->closed() && peer->received() == "PROTOCOL 0003\n");
        roundTrip(*good, have++);
        kit::RunLoop::main().advance(0.2);
        ASSERT_TRUE(waitFor([&] {
            for (auto& peer : crowd) {
                if (!peer->closed())
                    return false;
            }
            return true;
        }, 5));
        EXPECT_TRUE(log.contains("Control channel: a connection from 127.0.0.1 did not authenticate in time; closed"));
        EXPECT_EQ(server->waitingCount(), 0u);
        roundTrip(*good, have++);
    }

    // A connection that gave its password but never said which client it is goes too.
    {
        Peer silent(server->port());
        silent.write("PROTOCOL 0003\nAUTH " + std::string(password) + "\n");
        roundTrip(*good, have++); // turns the loop past the password
        EXPECT_FALSE(silent.closed());
        kit::RunLoop::main().advance(5.1);
        ASSERT_TRUE(waitFor([&] { return silent.closed(); }, 2));
        EXPECT_TRUE(log.contains("Control channel: a connection from 127.0.0.1 did not say which client it is in time; closed"));
    }

    // Anyone may knock: a flood of wrong passwords is said once, then once a
    // minute with its count, never a line each.
    log.clear();
    for (int i = 0; i < 200; ++i) {
        Peer knocking(server->port());
        knocking.write("PROTOCOL 0003\nAUTH nope\n");
        ASSERT_TRUE(waitFor([&] { return knocking.closed(); }, 2));
    }
    EXPECT_FALSE(log.contains("gave a wrong password")) << "said already in this minute";
    kit::RunLoop::main().advance(60);
    EXPECT_TRUE(log.contains("Control channel: 201 more connections in the last minute: from 127.0.0.1 gave a wrong password; closed"));
    EXPECT_LE(log.lines().size(), 3u);

    roundTrip(*good, have++);
    EXPECT_EQ(server->clients(), (std::vector<std::shared_ptr<ControlClient>> { client }));
    EXPECT_EQ(closes, 0);
    EXPECT_EQ(clientCalls, 1);
}

TEST_F(ControlServerTest, ReportsAreReadAndAClientThatReconnectsHearsItsLimitsAgain)
{
    LogCapture log;
    listen();
    auto peer = knownPeer("-CD0303-A b0xF8 1796846734 1796846790 multi.torrent");
    ASSERT_TRUE(client);
    EXPECT_EQ(client->peerId(), "-CD0303-A b0xF8"); // a blank in the id's printable part
    EXPECT_EQ(client->torrentPath(), "multi.torrent");

    peer->write("CTDETAIL 9437184 65536 1796846748 0\nCTFILESTART\n"
                "CTFILE 1 1 1 48 9 48 3145728 alpha.bin\n"
                "CTFILE 2 0 1 48 0 40 3145728 name with  blanks\x1b[31m\xe2\x80\xae.bin\n"
                "CTFILESDONE\n"
                "CTPEERSTART\nCTPEER -CD0303-0x954252D7AD1C 127.0.0.2 UiCn 153536 0 2457600 0 144\n"
                "CTPEER -XX 0x12 127.0.0.3 CnUi 0 7 0 70 3\nCTPEERSDONE\n"
                "CTBW 114931,12 61440,0\nCTINFO 2 Tracker error: \x07refused\n");
    ASSERT_TRUE(waitFor([&] { return !client->infos().empty(); }));
    ASSERT_TRUE(client->detail());
    EXPECT_EQ(client->detail()->bytes, 9437184);
    ASSERT_TRUE(client->files());
    EXPECT_EQ(*client->files(),
        (std::vector<ClientFile> { { 1, 1, 1, 48, 9, 48, 3145728, "alpha.bin" }, { 2, 0, 1, 48, 0, 40, 3145728, "name with  blanks?[31m?.bin" } }));
    EXPECT_FALSE((*client->files())[1].isFetched());
    ASSERT_EQ(client->peers().size(), 2u);
    EXPECT_EQ(client->peers()[0].address, "127.0.0.2");
    EXPECT_EQ(client->peers()[0].relationText(), "Sends to us, we want its pieces; we choke it, it wants nothing from us");
    EXPECT_EQ(client->peers()[1].id, "-XX 0x12");
    EXPECT_EQ(client->peers()[1].upTotal, 70);
    EXPECT_EQ(*client->bandwidth(), (ClientBandwidth { 114931, 12, 61440, 0 }));
    EXPECT_EQ(client->infos(), (std::vector<std::string> { "Tracker error: ?refused" }));
    EXPECT_EQ(client->lastReport(), ControlReport::Info);

    // Commands go out as the client reads them; a value out of range goes nowhere.
    EXPECT_TRUE(client->setDownloadLimit(61440));
    EXPECT_TRUE(client->setUploadLimit(20)); // raised: smaller limits stall the client
    EXPECT_TRUE(client->setPaused(true));
    EXPECT_TRUE(client->setFiles({ 2, 1 }));
    EXPECT_TRUE(client->setFiles({}));
    EXPECT_TRUE(client->setSeedTime(2));
    EXPECT_TRUE(client->setSeedRatio(1.5));
    EXPECT_FALSE(client->setFiles({ 3 })); // the torrent has two
    EXPECT_FALSE(client->setFiles({ 0 }));
    EXPECT_FALSE(client->setDownloadLimit(-5));
    EXPECT_FALSE(client->setUploadLimit(ControlClient::maxRate + 1));
    EXPECT_FALSE(client->setSeedTime(-1));
    EXPECT_FALSE(client->setSeedRatio(std::nan("")));
    EXPECT_TRUE(client->announce());
    for (auto expected : { "SETDLIMIT 61440", "SETULIMIT 1024", "CTCONFIG pause 1", "CTCONFIG file_list 1-2",
             "CTCONFIG file_list ", "CTCONFIG seed_time 2", "CTCONFIG seed_ratio 1.50", "CTUPDATE" })
        EXPECT_EQ(nextLine(*peer), expected);
    EXPECT_EQ(ControlClient::filesLine({ 7, 1, 3, 2, 9, 8, 3 }), "CTCONFIG file_list 1-3,7-9");
    std::vector<int> many;
    for (int i = 1; i < 2000; i += 2)
        many.push_back(i);
    EXPECT_FALSE(ControlClient::filesLine(many)); // too long a line
    EXPECT_EQ(ControlClient::seedRatioLine(0.005), "CTCONFIG seed_ratio 0.01");

    // A new list is written over the old one where it stands (a large
    // torrent's files are never held twice); a reader shares the client's
    // list, never a copy, and the list it holds stays as it was while a new
    // one comes; one longer than any .torrent may list is dropped whole.
    const auto* held = client->files()->data();
    peer->write("CTDETAIL 9437184 65536 1796846749 0\nCTFILESTART\nCTFILE 1 1 1 48 10 48 3145728 alpha.bin\nCTFILESDONE\n"
                "CTINFO 2 listed\n");
    ASSERT_TRUE(waitFor([&] { return client->infos().back() == "listed"; }));
    ASSERT_EQ(client->files()->size(), 1u);
    EXPECT_EQ((*client->files())[0].have, 10);
    EXPECT_EQ(client->files()->data(), held);
    auto reader = client->files();
    peer->write("CTDETAIL 9437184 65536 1796846749 0\nCTFILESTART\nCTFILE 1 1 1 48 11 48 3145728 alpha.bin\nCTFILE 2 0 1 48 0 40 3145728 b\nCTFILESDONE\n"
                "CTINFO 2 again\n");
    ASSERT_TRUE(waitFor([&] { return client->infos().back() == "again"; }));
    EXPECT_EQ(reader->size(), 1u);
    EXPECT_EQ((*reader)[0].have, 10) << "what a reader holds is not written over";
    EXPECT_EQ((*client->files())[0].have, 11);
    reader.reset();
    std::string huge = "CTDETAIL 9437184 65536 1796846750 0\nCTFILESTART\n";
    for (size_t i = 1; i <= ControlClient::maxFiles + 1; ++i)
        huge += "CTFILE " + std::to_string(i) + " 1 1 1 0 1 1 " + std::string(8, 'n') + "\n";
    huge += "CTFILESDONE\nCTINFO 2 flooded\n";
    size_t written = 0;
    ASSERT_TRUE(waitFor([&] { return (written += peer->write(huge.substr(written))) == huge.size() && client->infos().back() == "flooded"; }, 60));
    EXPECT_FALSE(client->detail());
    EXPECT_FALSE(client->files());
    huge.clear();
    huge.shrink_to_fit();

    // The connection ends; the client comes back with the same id and start,
    // and is told its limits and pause again.
    auto same = client;
    peer.reset();
    ASSERT_TRUE(waitFor([&] { return closes == 1; }));
    EXPECT_FALSE(same->isConnected());
    EXPECT_TRUE(server->clients().empty());
    EXPECT_FALSE(same->askStatus());
    peer = knownPeer("-CD0303-A b0xF8 1796846734 1796846800 multi.torrent");
    EXPECT_EQ(client, same);
    EXPECT_TRUE(client->isConnected());
    for (auto expected : { "SETDLIMIT 61440", "SETULIMIT 1024", "CTCONFIG pause 1" })
        EXPECT_EQ(nextLine(*peer), expected);

    // A second connection for the same client replaces the first.
    auto second = knownPeer("-CD0303-A b0xF8 1796846734 1796846801 multi.torrent");
    EXPECT_EQ(client, same);
    EXPECT_TRUE(waitFor([&] { return peer->closed(); }));
    EXPECT_EQ(server->clients().size(), 1u);
    EXPECT_EQ(closes, 1);

    // One that the owner does not take for the known client (a peer id is
    // no secret) gets an object of its own; the known one keeps its connection.
    server->sameClient = [](const ControlClient&, const kit::LineConnection&) { return false; };
    auto impostor = knownPeer("-CD0303-A b0xF8 1796846734 1796846802 multi.torrent");
    EXPECT_NE(client, same);
    EXPECT_TRUE(same->isConnected());
    EXPECT_FALSE(second->closed());
    impostor.reset();
    ASSERT_TRUE(waitFor([&] { return closes == 2; }));
    server->sameClient = nullptr;

    // Another client is another object; letting go of the server closes both quietly.
    auto other = knownPeer("-CD0303-0x01 1796846999 1796846999 multi.torrent");
    EXPECT_NE(client, same);
    EXPECT_EQ(server->clients().size(), 2u);
    server.reset();
    EXPECT_TRUE(waitFor([&] { return second->closed() && other->closed(); }));
    EXPECT_FALSE(same->isConnected());
    EXPECT_EQ(closes, 2);
}

TEST_F(ControlServerTest, TheDevicePasswordIsPrivateAndThePortIsKept)
{
    auto file = ControlDevice::secretFile();
    EXPECT_EQ(std::filesystem::path(file).parent_path(), std::filesystem::path(kit::DeviceLayout::current().settingsFile()).parent_path());
    auto made = ControlDevice::password();
    ASSERT_FALSE(made.isError()) << made.error().message;
    EXPECT_EQ(made.value().size(), 20u);
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    auto again = ControlDevice::password();
    ASSERT_FALSE(again.isError());
    EXPECT_EQ(again.value(), made.value());

    ::chmod(file.c_str(), 0644);
    auto open = ControlDevice::password();
    ASSERT_TRUE(open.isError());
    EXPECT_NE(open.error().message.find("can be used by other users (mode 0644)"), std::string::npos) << open.error().message;
    ::unlink(file.c_str());
    ::mkfifo(file.c_str(), 0600);
    auto fifo = ControlDevice::password();
    ASSERT_TRUE(fifo.isError());
    EXPECT_NE(fifo.error().message.find("is not a regular file"), std::string::npos) << fifo.error().message;
    ::unlink(file.c_str());
    ::symlink("/etc/hostname", file.c_str());
    EXPECT_TRUE(ControlDevice::password().isError());
    ::unlink(file.c_str());

    // The port is chosen on first use and kept; one held by another program is a clear error.
    EXPECT_EQ(ControlDevice::storedPort(), 0);
    auto first = ControlServer::listenForDevice();
    ASSERT_FALSE(first.isError()) << first.error().message;
    uint16_t port = first.value()->port();
    EXPECT_EQ(ControlDevice::storedPort(), port);
    EXPECT_EQ(kit::UserDefaults::standard().stringForKey("ControlPort"), std::to_string(port));
    auto held = ControlServer::listenForDevice();
    ASSERT_TRUE(held.isError());
    EXPECT_EQ(held.error().message, "Cannot listen on 127.0.0.1:" + std::to_string(port) + ": Address already in use");
}

// --- the real client

pid_t spawn(const std::vector<std::string>& args, const std::string& folder, const std::string& output, int input)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0)
        posix_spawn_file_actions_adddup2(&actions, input, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

TEST_F(ControlServerTest, TheRealClientConnectsAnswersTakesALimitAndQuits)
{
    const std::string ctorrent = "/usr/bin/ctorrent";
    ASSERT_EQ(::access(ctorrent.c_str(), X_OK), 0) << "the transfer client is missing (scripts/setup installs it)";
    testsupport::TempFolder work;
    std::string payload;
    for (int i = 0; i < 300000; ++i)
        payload += char('a' + (unsigned(i) * 7919u) % 26u);
    testsupport::writeFile(work / "seed/payload.bin", payload);
    std::filesystem::create_directories(work / "download");
    std::string torrent = work / "payload.bin.torrent";
    // No tracker listens at that port: the client stays without peers and
    // says so, which is all this needs.
    pid_t maker = spawn({ ctorrent, "-t", "-u", "http://127.0.0.1:9/announce", "-l", "65536", "-s", torrent, "payload.bin" },
        work / "seed", work / "make.out", -1);
    ASSERT_GT(maker, 0);
    int status = -1;
    ASSERT_EQ(::waitpid(maker, &status, 0), maker);
    ASSERT_TRUE(testsupport::fileExists(torrent)) << testsupport::readFile(work / "make.out");

    listen();
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    pid_t pid = spawn({ ctorrent, "-S", "127.0.0.1:" + std::to_string(server->port()) + ":", "-i", "127.0.0.1", "-e", "0", torrent },
        work / "download", work / "client.out", pipeFds[0]);
    ::close(pipeFds[0]);
    ASSERT_GT(pid, 0);
    std::string secret = std::string(password) + "\n";
    EXPECT_EQ(::write(pipeFds[1], secret.data(), secret.size()), ssize_t(secret.size()));
    ::close(pipeFds[1]);
    struct Reaper {
        pid_t pid;
        bool reaped { false };
        ~Reaper()
        {
            if (!reaped) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    } reaper { pid };
    auto diagnostics = [&] { return testsupport::readFile(work / "client.out"); };

    ASSERT_TRUE(waitFor([&] { return client && client->status(); }, 30)) << diagnostics();
    EXPECT_EQ(client->torrentPath(), torrent);
    EXPECT_EQ(client->peerId().rfind("-CD0303-", 0), 0u) << client->peerId();
    EXPECT_EQ(client->status()->piecesTotal, 5);
    EXPECT_EQ(client->status()->piecesHave, 0);

    // Asked, it answers; a limit set through the channel shows in its next report.
    int seen = reports;
    ASSERT_TRUE(client->askStatus());
    ASSERT_TRUE(waitFor([&] { return reports > seen && client->lastReport() == ControlReport::Status; }, 10)) << diagnostics();
    ASSERT_TRUE(client->setDownloadLimit(61440));
    ASSERT_TRUE(client->setUploadLimit(5 * 1024));
    seen = reports;
    ASSERT_TRUE(client->askStatus());
    ASSERT_TRUE(waitFor([&] {
        bool shown = client->status()->downLimit == 61440 && client->status()->upLimit == 5120;
        if (!shown && reports > seen) { // asked again after each report until it shows
            seen = reports;
            (void)client->askStatus();
        }
        return shown;
    }, 10)) << diagnostics();
    EXPECT_EQ(client->bandwidth()->downLimit, 61440);

    // Told to quit, it sends a last status, closes and ends well.
    ASSERT_TRUE(client->quit());
    ASSERT_TRUE(waitFor([&] {
        if (!reaper.reaped && ::waitpid(pid, &status, WNOHANG) == pid)
            reaper.reaped = true;
        return reaper.reaped && closes == 1;
    }, 30)) << diagnostics();
    ASSERT_TRUE(WIFEXITED(status)) << diagnostics();
    EXPECT_EQ(WEXITSTATUS(status), 0) << diagnostics();
    EXPECT_FALSE(client->isConnected());
    EXPECT_NE(diagnostics().find("CTCS sent Quit command"), std::string::npos) << diagnostics();
}

} // namespace
