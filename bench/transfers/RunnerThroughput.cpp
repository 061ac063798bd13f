// Output throughput of the transfer tab: a generator child writes status lines
// as fast as it can; the tab reads them chunk by chunk on the run loop, as it
// does for the real client. Beside it, a plain read() loop on the same kind of
// pipe from the same generator: the limit. Prints both rates, their ratio, and
// the resident memory before and after the tab's run.
//
// Then 1, 3 and 10 transfers at once, each from its own generator at full
// speed: the tab's CPU time per transfer and per megabyte read, and their
// ratios to one transfer (flat means each transfer costs the same however
// many run).
#include "tests/support/TempFolder.h"
#include "app/Quorvane.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/core/RunLoop.h"
#include "kit/core/UserDefaults.h"
#include "kit/ui/Window.h"
#include "transfers/DownloadedTorrents.h"

#include "transfers/TransferList.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long residentKiB()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long peakKiB()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

double seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string generatorScript(long long bytes)
{
    // A real-looking status line, repeated; one big buffered writer.
    return "#!/bin/sh\n"
           "yes '| 1/3/5 [10/64/12] 1MB,2MB | 120,5K/s | 33,1K E:0,1                    ' | head -c "
        + std::to_string(bytes) + "\n";
}

double plainRead(const std::string& program)
{
    int fds[2];
    if (pipe(fds) != 0)
        std::exit(1);
    double start = seconds();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execl(program.c_str(), program.c_str(), nullptr);
        _exit(127);
    }
    close(fds[1]);
    std::string buffer(64 * 1024, '\0');
    long long total = 0;
    ssize_t n;
    while ((n = read(fds[0], buffer.data(), buffer.size())) > 0)
        total += n;
    close(fds[0]);
    int st;
    waitpid(pid, &st, 0);
    double elapsed = seconds() - start;
    return double(total) / elapsed;
}

double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Several {
    double cpu; // seconds of this process
    double wall;
    long long bytes; // reached the tab
};

// N transfers at once, each its own generator of `bytes` bytes.
Several runSeveral(int n, long long bytes, const std::string& root)
{
    auto& layout = kit::DeviceLayout::current();
    testsupport::writeFile(layout.ctorrentPath(), generatorScript(bytes), true);
    kit::UserDefaults::standard().setObject(std::to_string(n), TransferList::limitKey);
    int ended = 0;
    long long seen = 0;
    auto oldSink = kit::setLogSink([&](const std::string& line) {
        if (line == " Less than 1")
            ++ended;
        return true;
    });
    auto window = std::make_shared<kit::Window>();
    auto tab = std::make_shared<DownloadedTorrents>();
    window->addSubview(tab->viewPointer());
    auto counting = kit::NotificationCenter::defaultCenter().addObserver([&](const kit::Notification& note) {
        auto it = note.userInfo.find(kit::FileHandle::DataItem);
        if (it != note.userInfo.end())
            seen += (long long)std::any_cast<const std::string&>(it->second).size();
    }, kit::FileHandle::ReadCompletionNotification, nullptr);
    const double cpu0 = cpuSeconds(), wall0 = seconds();
    for (int i = 0; i < n; ++i)
        if (!tab->startDownload(root + "/t" + std::to_string(n) + "-" + std::to_string(i) + ".torrent"))
            std::exit(1);
    kit::RunLoop::main().runUntil([&] { return ended >= n; }, 900);
    Several result { cpuSeconds() - cpu0, seconds() - wall0, seen };
    kit::RunLoop::main().runUntil([&] { return kit::ChildProcess::runningCount() == 0; }, 10);
    kit::setLogSink(oldSink);
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    const long long bytes = argc > 1 ? std::atoll(argv[1]) : 256LL * 1024 * 1024;
    testsupport::TempFolder root;
    auto& layout = kit::DeviceLayout::current();
    layout.setRoot(root.path());
    layout.prepare();
    kit::UserDefaults::standard().open(layout.settingsFile());
    testsupport::writeFile(layout.ctorrentPath(), generatorScript(bytes), true);

    bool ended = false;
    long long seen = 0;
    kit::setLogSink([&](const std::string& line) {
        if (line == " Less than 1")
            ended = true;
        return true;
    });

    Quorvane app;
    auto window = std::make_shared<kit::Window>();
    window->makeKeyWindow();
    auto tab = std::make_shared<DownloadedTorrents>();
    window->addSubview(tab->viewPointer());
    // Count what reaches the tab, so the rate is of bytes shown, not bytes sent.
    auto counting = kit::NotificationCenter::defaultCenter().addObserver([&](const kit::Notification& n) {
        auto it = n.userInfo.find(kit::FileHandle::DataItem);
        if (it != n.userInfo.end())
            seen += (long long)std::any_cast<const std::string&>(it->second).size();
    }, kit::FileHandle::ReadCompletionNotification, nullptr);

    const long before = residentKiB();
    double start = seconds();
    if (!tab->startDownload("/dev/null"))
        return 1;
    kit::RunLoop::main().runUntil([&] { return ended; }, 600);
    double runnerRate = double(seen) / (seconds() - start);
    const long after = residentKiB();
    kit::RunLoop::main().runUntil([&] { return !tab->shellProcess()->isRunning(); }, 10);

    double plainRate = plainRead(layout.ctorrentPath());
    std::printf("bytes: %lld (%lld reached the tab)\n", bytes, seen);
    std::printf("transfer tab: %.1f MB/s\n", runnerRate / 1e6);
    std::printf("plain reader: %.1f MB/s\n", plainRate / 1e6);
    std::printf("ratio tab/plain: %.2f (target >= 0.5)\n", runnerRate / plainRate);
    std::printf("resident memory: %ld KiB before, %ld KiB after, peak %ld KiB (one chunk is %zu KiB)\n", before, after,
        peakKiB(), kit::FileHandle::chunkSize / 1024);

    // Several at once: each transfer reads as much as the single one did.
    const long long each = argc > 2 ? std::atoll(argv[2]) : 64LL * 1024 * 1024;
    std::printf("\nseveral transfers at once, %lld bytes each, full speed:\n", each);
    std::optional<Several> one;
    for (int n : { 1, 3, 10 }) {
        auto r = runSeveral(n, each, root.path());
        const double perTransfer = r.cpu / n;
        const double perMB = r.cpu / (double(r.bytes) / 1e6);
        if (!one)
            one = r;
        const double onePerMB = one->cpu / (double(one->bytes) / 1e6);
        std::printf("%2d transfers: %.2f s CPU, %.2f s wall, %.1f MB read; CPU per transfer %.3f s, per MB %.2f ms; "
                    "ratio per MB to one transfer %.2f (flat: about 1)\n",
            n, r.cpu, r.wall, double(r.bytes) / 1e6, perTransfer, perMB * 1e3, perMB / onePerMB);
    }
    return 0;
}
