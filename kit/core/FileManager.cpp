#include "kit/core/FileManager.h"

#include "kit/core/PathString.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kit {

namespace {
#ifndef RENAME_NOREPLACE
constexpr unsigned RENAME_NOREPLACE = 1;
#endif

// rename(2) that fails with EEXIST instead of replacing the target.
int renameNoReplace(const std::string& from, const std::string& to)
{
#ifdef SYS_renameat2
    long r = syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (r == 0)
        return 0;
    if (errno != ENOSYS && errno != EINVAL)
        return -1;
#endif
    // No kernel or file-system support: check, then rename. Racy against
    // another writer, which the handheld's own move was as well.
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return std::rename(from.c_str(), to.c_str());
}

bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}
} // namespace

FileManager& FileManager::defaultManager()
{
    static FileManager manager;
    return manager;
}

std::vector<std::string> FileManager::directoryContentsAtPath(const std::string& path) const
{
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return names;
    while (dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        names.emplace_back(name);
    }
    closedir(dir);
    return names;
}

bool FileManager::fileExistsAtPath(const std::string& path) const
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool FileManager::isDirectoryAtPath(const std::string& path) const
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileManager::moveItemAtPath(const std::string& from, const std::string& to) const
{
    if (from.empty() || to.empty() || !exists(from))
        return false;
    if (renameNoReplace(from, to) == 0)
        return true;
    if (errno != EXDEV || exists(to))
        return false;
    // Another file system: copy everything, links as links, then drop the source.
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec) {
        fs::remove_all(to, ec);
        return false;
    }
    fs::remove_all(from, ec);
    return true;
}

bool FileManager::removeItemAtPath(const std::string& path) const
{
    if (path.empty() || !exists(path))
        return false;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    return !ec;
}

std::vector<std::string> pathsMatchingExtensions(const std::vector<std::string>& names, const std::vector<std::string>& extensions)
{
    std::vector<std::string> out;
    for (auto& name : names) {
        auto ext = pathExtension(name);
        for (auto& wanted : extensions) {
            if (ext == wanted) {
                out.push_back(name);
                break;
            }
        }
    }
    return out;
}

} // namespace kit
