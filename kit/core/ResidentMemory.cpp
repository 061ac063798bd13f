#include "kit/core/ResidentMemory.h"

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <sstream>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#ifndef MADV_PAGEOUT
#define MADV_PAGEOUT 21
#endif

namespace kit::ResidentMemory {

namespace {

struct Mapping {
    unsigned long start { 0 };
    unsigned long end { 0 };
    std::string perms;
    std::string path;
};

// One line of /proc/self/maps: "start-end perms offset dev inode   path".
bool parseMapping(const std::string& line, Mapping& out)
{
    std::istringstream in(line);
    std::string range, offset, device, inode;
    if (!(in >> range >> out.perms >> offset >> device >> inode))
        return false;
    const auto dash = range.find('-');
    if (dash == std::string::npos)
        return false;
    out.start = std::stoul(range.substr(0, dash), nullptr, 16);
    out.end = std::stoul(range.substr(dash + 1), nullptr, 16);
    std::getline(in >> std::ws, out.path);
    // A file mapped has an inode; anonymous memory and the kernel's own ([vdso], [heap]) have none.
    if (inode == "0")
        out.path.clear();
    return true;
}

// A file deleted since it was mapped still reads back from its inode.
bool samePath(const std::string& mapped, const std::string& wanted)
{
    if (mapped == wanted)
        return true;
    static const std::string deleted = " (deleted)";
    return mapped.size() == wanted.size() + deleted.size() && mapped.compare(0, wanted.size(), wanted) == 0
        && mapped.compare(wanted.size(), deleted.size(), deleted) == 0;
}

} // namespace

std::size_t pageOutFiles(const std::string& path)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    std::size_t advised = 0;
    Mapping m;
    while (std::getline(maps, line)) {
        if (!parseMapping(line, m) || m.path.empty() || m.path.front() != '/')
            continue;
        if (!path.empty() && !samePath(m.path, path))
            continue;
        // Shared writable mappings hold data a person wrote: those are left alone.
        if (m.perms.size() >= 4 && m.perms[1] == 'w' && m.perms[3] == 's')
            continue;
        // Pages written (relocations, a library's data) are anonymous and stay;
        // the kernel skips them, and pages other processes map too.
        if (::madvise(reinterpret_cast<void*>(m.start), m.end - m.start, MADV_PAGEOUT) == 0)
            advised += m.end - m.start;
    }
    return advised;
}

std::vector<std::string> mappedFiles()
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    std::vector<std::string> files;
    Mapping m;
    while (std::getline(maps, line))
        if (parseMapping(line, m) && !m.path.empty() && m.path.front() == '/')
            files.push_back(m.path);
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
}

bool childMaps(const std::string& path)
{
    // Any thread may have started the child (the web engine's launcher runs on one of its own).
    std::vector<std::string> children;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream more(entry.path() / "children");
        for (std::string child; more >> child;)
            children.push_back(child);
    }
    for (const auto& child : children) {
        std::ifstream maps("/proc/" + child + "/maps");
        std::string line;
        Mapping m;
        while (std::getline(maps, line))
            if (parseMapping(line, m) && samePath(m.path, path))
                return true;
    }
    return false;
}

void trimHeap()
{
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

std::string fileMappedAt(const void* address)
{
    // A library's name as it was loaded may be a link; the maps name the file itself.
    // Its first mapping (where dladdr says it begins) is always the file's.
    Dl_info info {};
    const auto at = reinterpret_cast<unsigned long>(::dladdr(address, &info) && info.dli_fbase ? info.dli_fbase : address);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    Mapping m;
    while (std::getline(maps, line))
        if (parseMapping(line, m) && at >= m.start && at < m.end)
            return m.path;
    return {};
}

std::size_t residentBytes(const std::string& path)
{
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool counting = false;
    std::size_t total = 0;
    Mapping m;
    while (std::getline(smaps, line)) {
        if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) && line.find('-') != std::string::npos
            && parseMapping(line, m)) {
            counting = path.empty() || samePath(m.path, path);
            continue;
        }
        if (counting && line.compare(0, 4, "Rss:") == 0)
            total += std::stoul(line.substr(4)) * 1024;
    }
    return total;
}

} // namespace kit::ResidentMemory
