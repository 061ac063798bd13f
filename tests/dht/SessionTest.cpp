#include "dht/Session.h"

#include "dht/TorrentFile.h"
#include "kit/core/FdWatcher.h"
#include "kit/core/RunLoop.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopTest.h"
#include "tests/support/TempFolder.h"
#include "torrent/TorrentContents.h"

#include <libtorrent/hasher.hpp>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string fromHex(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string toHex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

dht::Peer peerOf(const std::string& hostPort)
{
    auto colon = hostPort.rfind(':');
    return { hostPort.substr(0, colon), uint16_t(std::stoi(hostPort.substr(colon + 1))) };
}

// The loopback DHT and swarm of ltdht.py, spoken to a line at a time while
// the run loop turns.
class LoopbackSwarm {
public:
    LoopbackSwarm()
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipes");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::execl(QUORVANE_SYSTEM_PYTHON, QUORVANE_SYSTEM_PYTHON, QUORVANE_LTDHT, nullptr);
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        m_in = in[1];
        m_out = out[0];
        ::fcntl(m_out, F_SETFL, O_NONBLOCK);
        m_watch = std::make_unique<kit::FdWatcher>(m_out, kit::FdWatcher::Read, [this](unsigned) {
            char buffer[4096];
            ssize_t n = ::read(m_out, buffer, sizeof buffer);
            if (n > 0)
                m_buffer.append(buffer, size_t(n));
            else if (n == 0)
                m_watch->setEnabled(false);
        });
    }
    ~LoopbackSwarm()
    {
        m_watch.reset();
        ::close(m_in);
        ::close(m_out);
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    // The next line, waiting up to `seconds` for it while the loop turns.
    std::string line(double seconds)
    {
        kit::RunLoop::main().runUntil([&] { return m_buffer.find('\n') != std::string::npos; }, seconds);
        auto end = m_buffer.find('\n');
        if (end == std::string::npos)
            return {};
        auto line = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 1);
        return line;
    }
    void send(const std::string& line) { [[maybe_unused]] auto n = ::write(m_in, (line + "\n").data(), line.size() + 1); }

private:
    pid_t m_pid { -1 };
    int m_in { -1 };
    int m_out { -1 };
    std::string m_buffer;
    std::unique_ptr<kit::FdWatcher> m_watch;
};

class SessionTest : public testsupport::LoopTest { };

} // namespace

// One flow on a loopback DHT: the node bootstraps from a loopback node, finds
// a seeder, announces another program's port where other nodes find it, saves
// its table, and fetches a torrent's metadata with the DHT off, from a peer
// that lies about it and then an honest one.
TEST_F(SessionTest, FindsAnnouncesAndFetchesMetadataOnALoopbackSwarm)
{
    if (std::system(QUORVANE_SYSTEM_PYTHON " -c 'import libtorrent' 2>/dev/null") != 0)
        GTEST_SKIP() << QUORVANE_SYSTEM_PYTHON " has no libtorrent module (Debian's python3-libtorrent): no loopback swarm";
    testsupport::LogCapture log;
    LoopbackSwarm swarm;
    std::istringstream ready(swarm.line(90));
    std::string word, hashHex, infoHex, bootstrap, seederText, liarText;
    ready >> word >> hashHex >> infoHex >> bootstrap >> seederText >> liarText;
    ASSERT_EQ(word, "ready") << ready.str();
    const auto infoHash = fromHex(hashHex);
    const auto info = fromHex(infoHex);
    const auto seeder = peerOf(seederText);
    const auto liar = peerOf(liarText);

    testsupport::TempFolder state;
    const char* certificates = std::getenv("SSL_CERT_FILE");
    const std::string certificatesBefore = certificates ? certificates : "(none)";
    auto started = dht::Session::start(state.path(), "nowhere:0, " + bootstrap, "127.0.0.1:0");
    ASSERT_FALSE(started.isError()) << started.error().message;
    certificates = std::getenv("SSL_CERT_FILE");
    EXPECT_EQ(certificates ? certificates : "(none)", certificatesBefore) << "the environment was not put back";
    auto session = started.release();
    EXPECT_TRUE(std::any_of(log.lines().begin(), log.lines().end(),
        [](const std::string& line) { return line.find("\"nowhere:0\" is not a host and port") != std::string::npos; }));

    // Asked at once: a lookup made before the node is in is made again once it is.
    std::vector<dht::Peer> found;
    session->getPeers(infoHash, [&](std::vector<dht::Peer> peers) {
        for (auto& peer : peers) {
            EXPECT_EQ(std::count(found.begin(), found.end(), peer), 0) << "reported twice";
            found.push_back(peer);
        }
    });
    ASSERT_TRUE(waitFor([&] { return std::count(found.begin(), found.end(), seeder) > 0; }, 60)) << "the seeder was not found";
    EXPECT_GT(session->nodeCount(), 0u);
    EXPECT_GT(session->listenPort(), 0);

    // Another program's port, on a hash of its own: another node finds it there.
    const std::string otherHash = fromHex("0123456789abcdef0123456789abcdef01234567");
    session->announce(otherHash, 45678);
    swarm.send("lookup " + toHex(otherHash) + " 45678");
    EXPECT_EQ(swarm.line(40), "found");

    session->save();
    struct stat st {};
    ASSERT_EQ(::stat((state / dht::Session::stateFileName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_GT(st.st_size, 0);

    // A fetch with no peers that is cancelled says nothing, not even its first count.
    bool idleHeard = false;
    auto idle = session->fetchMetadata(otherHash, {}, [&](size_t) { idleHeard = true; }, [&](kit::ErrorOr<std::string>) { idleHeard = true; });
    session->cancel(idle);

    // The DHT off: the fetch has only the peers it is given. The liar first,
    // so that its bytes are the first to fail the hash check.
    session->setEnabled(false);
    EXPECT_FALSE(session->enabled());
    size_t peerCount = 0;
    bool refused = false;
    std::optional<kit::ErrorOr<std::string>> got;
    auto id = session->fetchMetadata(infoHash, { liar, liar, { "not an address", 1 } }, [&](size_t n) { peerCount = n; },
        [&](kit::ErrorOr<std::string> result) { got = std::move(result); });
    auto refusedTwice = session->fetchMetadata(infoHash, {}, nullptr, [&](kit::ErrorOr<std::string> result) {
        EXPECT_TRUE(result.isError());
        refused = true;
    });
    EXPECT_NE(refusedTwice, id);
    auto liarFailed = [&] {
        return std::any_of(log.lines().begin(), log.lines().end(),
            [](const std::string& line) { return line.find("1 peer(s) sent metadata of") != std::string::npos && line.find("1 set aside") != std::string::npos; });
    };
    ASSERT_TRUE(waitFor(liarFailed, 30)) << "the liar's metadata never arrived";
    EXPECT_TRUE(refused) << "the second fetch of one hash was not refused";
    EXPECT_FALSE(idleHeard) << "a cancelled fetch called back";
    EXPECT_EQ(peerCount, 1u);
    EXPECT_FALSE(got);
    session->addPeers(id, { seeder });
    EXPECT_EQ(peerCount, 2u);
    ASSERT_TRUE(waitFor([&] { return got.has_value(); }, 30)) << "no metadata from the honest seeder";
    ASSERT_FALSE(got->isError()) << got->error().message;
    EXPECT_EQ(got->value(), info);
    EXPECT_EQ(lt::hasher(got->value().data(), int(got->value().size())).final().to_string(), infoHash);
    EXPECT_EQ(session->fetchCount(), 0u);

    // The liar beside the honest one from the start, both asked at once: the
    // honest bytes win, whoever answers first, and the fetch ends.
    std::optional<kit::ErrorOr<std::string>> raced;
    session->fetchMetadata(infoHash, { liar, seeder }, nullptr, [&](kit::ErrorOr<std::string> result) { raced = std::move(result); });
    ASSERT_TRUE(waitFor([&] { return raced.has_value(); }, 30)) << "a liar beside an honest seeder stalled the fetch";
    ASSERT_FALSE(raced->isError()) << raced->error().message;
    EXPECT_EQ(raced->value(), info);
    EXPECT_EQ(session->fetchCount(), 0u);

    auto torrentFile = dht::torrentFileFor(got->value(), {});
    ASSERT_FALSE(torrentFile.isError()) << torrentFile.error().message;
    auto contents = torrent::readContents(torrentFile.value());
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->files.size(), 5u);

    session.reset();
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(state.path()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string> { dht::Session::stateFileName }) << "the private folder stays";

    // No bootstrap node at all: the saved table alone finds the seeder again,
    // asked before the node knows anyone and once more a minute on.
    auto again = dht::Session::start(state.path(), "", "127.0.0.1:0");
    ASSERT_FALSE(again.isError()) << again.error().message;
    found.clear();
    again.value()->getPeers(infoHash, [&](std::vector<dht::Peer> peers) { found.insert(found.end(), peers.begin(), peers.end()); });
    ASSERT_TRUE(waitFor([&] { return again.value()->nodeCount() > 0; }, 30)) << "the saved table was not used";
    env.advance(dht::Session::lookupInterval);
    EXPECT_TRUE(waitFor([&] { return std::count(found.begin(), found.end(), seeder) > 0; }, 30)) << "the seeder was not found again";
}
