// Listing a large folder in the downloads tab, in torrent mode and in
// all-entries mode, against a plain read of the same folder's names (the
// limit). Prints the times and the ratios; the aim is within 2x of the plain read.
// Also prints the resident memory before and after, and its peak.
//
//   bench_files [ENTRIES] [FOLDER]   (default 100000 entries in a temporary folder)
#include "files/TorrentFiles.h"
#include "kit/core/RunLoop.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <fcntl.h>
#include <functional>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double seconds(const std::function<void()>& work)
{
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::vector<std::string> plainRead(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return names;
    while (dirent* e = readdir(dir))
        if (std::string_view(e->d_name) != "." && std::string_view(e->d_name) != "..")
            names.emplace_back(e->d_name);
    closedir(dir);
    return names;
}

// A field of /proc/self/status in KiB (VmRSS, VmHWM).
long statusKiB(const std::string& field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::atol(line.c_str() + field.size() + 1);
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
    std::string folder = argc > 2 ? argv[2] : "";
    bool made = false;
    if (folder.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-bench-files-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        folder = pattern;
        made = true;
        // One entry in ten is a torrent file; the rest look like a real downloads folder.
        for (int i = 0; i < entries; ++i) {
            std::string name = folder + "/entry " + std::to_string(i) + (i % 10 == 0 ? ".torrent" : i % 10 == 1 ? "" : ".avi");
            int fd = open(name.c_str(), O_CREAT | O_WRONLY, 0644);
            if (fd < 0) {
                std::perror(name.c_str());
                return 1;
            }
            close(fd);
        }
    }

    kit::RunLoop::main().useManualClock();
    auto tab = std::make_shared<TorrentFiles>();
    tab->view();
    tab->currentDir = folder;

    const long residentBefore = statusKiB("VmRSS");
    const int rounds = 15;
    size_t plainCount = 0, torrentRows = 0, allRows = 0;
    plainRead(folder); // warm the cache
    std::vector<double> plain, torrent, all;
    for (int r = 0; r < rounds; ++r) {
        plain.push_back(seconds([&] { plainCount = plainRead(folder).size(); }));
        torrent.push_back(seconds([&] { tab->updateArray(); }));
        torrentRows = tab->fileMutableArray.size();
        all.push_back(seconds([&] { tab->updateArrayWithAllFiles(); }));
        allRows = tab->fileMutableArray.size();
    }
    double p = median(plain), t = median(torrent), a = median(all);
    std::printf("folder listing, %zu entries (median of %d)\n", plainCount, rounds);
    std::printf("  plain directory read      %8.2f ms\n", p * 1e3);
    std::printf("  torrent mode (%zu rows) %8.2f ms   ratio %.2f\n", torrentRows, t * 1e3, t / p);
    std::printf("  all-entries mode (%zu rows) %8.2f ms   ratio %.2f\n", allRows, a * 1e3, a / p);
    std::printf("  target: ratio within 2.00: %s\n", t / p <= 2 && a / p <= 2 ? "met" : "NOT met");
    const long residentAfter = statusKiB("VmRSS");
    std::printf("  resident memory: %ld KiB before listing, %ld KiB after %d rounds (%.0f bytes a row), peak %ld KiB\n",
        residentBefore, residentAfter, rounds, allRows ? double(residentAfter - residentBefore) * 1024 / double(allRows) : 0.0,
        statusKiB("VmHWM"));

    if (made) {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    return 0;
}
