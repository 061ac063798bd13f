#include "kit/core/Log.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kit {
namespace {

constexpr std::uintmax_t largestLogFile = 1024 * 1024; // then the file starts anew, the old one kept as .1

struct LogState {
    LogSink sink;
    LogDestination destination { LogDestination::StandardError };
    std::string journalSocket { "/run/systemd/journal/socket" };
    int journal { -1 };
    bool journalFailed { false };
    std::FILE* file { nullptr };
    bool fileFailed { false };
    std::uintmax_t fileSize { 0 };

    ~LogState()
    {
        if (journal >= 0)
            ::close(journal);
        if (file)
            std::fclose(file);
    }
};

LogState& state()
{
    static LogState s;
    return s;
}

std::string stampedLine(const std::string& text)
{
    auto now = std::chrono::system_clock::now();
    auto secs = std::chrono::system_clock::to_time_t(now);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm {};
    localtime_r(&secs, &tm);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    char head[128];
    std::snprintf(head, sizeof head, "%s.%03d Quorvane[%d] ", stamp, int(ms), int(getpid()));
    return head + text + "\n";
}

// The journal's own datagram protocol: KEY=value lines; a value with a line
// feed is sent as the key, a line feed, its length (64-bit little endian) and
// its bytes.
bool sendToJournal(LogState& s, const std::string& text)
{
    if (s.journalFailed || s.journalSocket.empty())
        return false;
    if (s.journal < 0) {
        s.journal = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (s.journal < 0) {
            s.journalFailed = true;
            return false;
        }
    }
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (s.journalSocket.size() >= sizeof address.sun_path) {
        s.journalFailed = true;
        return false;
    }
    std::copy(s.journalSocket.begin(), s.journalSocket.end(), address.sun_path);
    std::string datagram = "SYSLOG_IDENTIFIER=quorvane\nPRIORITY=6\n";
    if (text.find('\n') == std::string::npos) {
        datagram += "MESSAGE=" + text + "\n";
    } else {
        datagram += "MESSAGE\n";
        uint64_t size = text.size();
        for (int i = 0; i < 8; ++i)
            datagram.push_back(char((size >> (8 * i)) & 0xff));
        datagram += text + "\n";
    }
    if (::sendto(s.journal, datagram.data(), datagram.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        // No journal here (or it went away): the file serves from now on.
        s.journalFailed = true;
        return false;
    }
    return true;
}

// The log is the user's alone (it names their torrents), and it is cut as it
// grows, not only at the next start: whoever can reach the application (a
// flood of refused connections) must not be able to fill the disk with it.
void openLogFile(LogState& s)
{
    std::error_code ec;
    std::filesystem::path path = desktopLogFile();
    std::filesystem::create_directories(path.parent_path(), ec);
    auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > largestLogFile) {
        std::filesystem::rename(path, path.string() + ".1", ec);
        size = 0;
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0)
        ::fchmod(fd, 0600);
    s.file = fd >= 0 ? ::fdopen(fd, "a") : nullptr;
    if (fd >= 0 && !s.file)
        ::close(fd);
    s.fileFailed = !s.file;
    s.fileSize = ec ? 0 : size;
}

bool writeToFile(LogState& s, const std::string& text)
{
    if (!s.file && !s.fileFailed)
        openLogFile(s);
    if (!s.file)
        return false;
    const std::string line = stampedLine(text);
    std::fputs(line.c_str(), s.file);
    std::fflush(s.file);
    s.fileSize += line.size();
    if (s.fileSize > largestLogFile) {
        std::fclose(s.file);
        s.file = nullptr;
        openLogFile(s);
    }
    return true;
}

} // namespace

LogSink setLogSink(LogSink sink)
{
    auto old = std::move(state().sink);
    state().sink = std::move(sink);
    return old;
}

void setLogDestination(LogDestination destination)
{
    auto& s = state();
    s.destination = destination;
    // Opened afresh on the next line: the state folder may have changed.
    if (s.file)
        std::fclose(s.file);
    s.file = nullptr;
    s.fileFailed = false;
}
LogDestination logDestination() { return state().destination; }

void setJournalSocket(std::string path)
{
    auto& s = state();
    s.journalSocket = std::move(path);
    s.journalFailed = false;
}

std::string desktopLogFile()
{
    std::filesystem::path base;
    if (const char* stateHome = std::getenv("XDG_STATE_HOME"); stateHome && *stateHome == '/')
        base = stateHome;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::filesystem::path(home) / ".local/state";
    else
        base = "/tmp";
    return (base / "quorvane" / "quorvane.log").string();
}

void log(std::string_view line)
{
    auto& s = state();
    std::string text(line);
    if (s.sink && s.sink(text))
        return;
    // Where the desktop's log cannot be reached, standard error still has it.
    if (s.destination == LogDestination::Desktop && (sendToJournal(s, text) || writeToFile(s, text)))
        return;
    std::fputs(stampedLine(text).c_str(), stderr);
    std::fflush(stderr);
}

} // namespace kit
