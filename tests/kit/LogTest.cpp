// The system log's two homes: standard error, and the desktop's log (the
// journal where one listens, else a file under the XDG state folder).
#include "tests/support/TempFolder.h"
#include "kit/core/Log.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using testsupport::readFile;
using testsupport::TempFolder;

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("XDG_STATE_HOME");
        oldState = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("XDG_STATE_HOME", folder.path().c_str(), 1);
        oldSink = kit::setLogSink({});
    }
    void TearDown() override
    {
        kit::setLogDestination(kit::LogDestination::StandardError);
        kit::setJournalSocket("/run/systemd/journal/socket");
        kit::setLogSink(oldSink);
        if (oldState)
            ::setenv("XDG_STATE_HOME", oldState->c_str(), 1);
        else
            ::unsetenv("XDG_STATE_HOME");
    }

    // Standard error while `write` runs.
    std::string stderrOf(const std::function<void()>& write)
    {
        testing::internal::CaptureStderr();
        write();
        return testing::internal::GetCapturedStderr();
    }

    TempFolder folder;
    std::optional<std::string> oldState;
    kit::LogSink oldSink;
};

TEST_F(LogTest, TheDesktopsLogIsAFileUnderTheStateFolderWhenNoJournalListens)
{
    EXPECT_EQ(kit::desktopLogFile(), folder.path() + "/quorvane/quorvane.log");
    EXPECT_NE(stderrOf([] { kit::log("on the terminal"); }).find("Quorvane[" + std::to_string(getpid()) + "] on the terminal\n"), std::string::npos);

    kit::setJournalSocket(folder / "no-journal");
    kit::setLogDestination(kit::LogDestination::Desktop);
    EXPECT_EQ(stderrOf([] { kit::log("Testing NSLog: Entry"); }), "") << "the terminal stays quiet";
    kit::log(" Less than 1");
    auto text = readFile(kit::desktopLogFile());
    EXPECT_NE(text.find("] Testing NSLog: Entry\n"), std::string::npos) << text;
    EXPECT_NE(text.find("]  Less than 1\n"), std::string::npos) << text;
}

TEST_F(LogTest, AListeningJournalGetsEachLineAsAMessage)
{
    const std::string path = folder / "journal";
    int journal = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    ASSERT_GE(journal, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(::bind(journal, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    kit::setJournalSocket(path);
    kit::setLogDestination(kit::LogDestination::Desktop);
    EXPECT_EQ(stderrOf([] { kit::log("Search Clicked"); }), "");
    char buffer[512] {};
    auto n = ::recv(journal, buffer, sizeof buffer - 1, MSG_DONTWAIT);
    ::close(journal);
    ASSERT_GT(n, 0);
    std::string datagram(buffer, size_t(n));
    EXPECT_NE(datagram.find("MESSAGE=Search Clicked\n"), std::string::npos) << datagram;
    EXPECT_NE(datagram.find("SYSLOG_IDENTIFIER=quorvane\n"), std::string::npos) << datagram;
    EXPECT_FALSE(std::filesystem::exists(kit::desktopLogFile())) << "the journal has it; no file";
}

} // namespace

TEST_F(LogTest, TheLogFileIsTheUsersAloneAndIsCutWhileRunning)
{
    kit::setJournalSocket(folder / "no-journal");
    kit::setLogDestination(kit::LogDestination::Desktop);
    const std::string line(200, 'x');
    for (int i = 0; i < 20000; ++i) // 4 MB of lines in one run
        kit::log(line);
    std::error_code ec;
    const auto size = std::filesystem::file_size(kit::desktopLogFile(), ec);
    const auto kept = std::filesystem::file_size(kit::desktopLogFile() + ".1", ec);
    EXPECT_FALSE(ec);
    EXPECT_LE(size, 1024u * 1024u + 300u);
    EXPECT_LE(kept, 1024u * 1024u + 300u);
    EXPECT_GT(kept, 1000u * 1000u);
    EXPECT_EQ(std::filesystem::status(kit::desktopLogFile()).permissions() & std::filesystem::perms::all, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}
