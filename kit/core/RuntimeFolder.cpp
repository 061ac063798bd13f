#include "kit/core/RuntimeFolder.h"

#include "kit/core/DeviceLayout.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace kit {

std::string foreignFolderProblem(const std::string& folder)
{
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0)
        return folder + " cannot be used: " + std::strerror(errno);
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode))
        return folder + " is not a folder of its own (a link or a file stands there)";
    if (st.st_uid != ::getuid())
        return folder + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    if (st.st_mode & 077) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
        return folder + " can be reached by other users (mode " + mode + ")";
    }
    return {};
}

namespace {

// Makes `folder` (its parents as the user's own) private, or says why it is not.
std::string privateFolder(const std::string& folder, bool makeParents)
{
    std::error_code ec;
    if (makeParents)
        std::filesystem::create_directories(std::filesystem::path(folder).parent_path(), ec);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return "cannot make " + folder + ": " + std::strerror(errno);
    return foreignFolderProblem(folder);
}

std::string stateBase()
{
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return state;
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return std::string(home) + "/.local/state";
    return {};
}

} // namespace

RuntimeFolder runtimeFolder()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/' && foreignFolderProblem(runtime).empty())
        return { runtime, {} };
    const char* temp = std::getenv("TMPDIR");
    const std::string tempFolder = temp && *temp == '/' ? temp : "/tmp";
    const std::string usual = tempFolder + "/quorvane-" + std::to_string(::getuid());
    const std::string problem = privateFolder(usual, false);
    if (problem.empty())
        return { usual, {} };
    // Someone else took the name first: the user's own state folder cannot
    // be taken the same way.
    const std::string base = stateBase();
    if (base.empty())
        return { {}, problem + "; and no home folder to use instead" };
    const std::string elsewhere = base + "/quorvane/run";
    if (auto why = privateFolder(elsewhere, true); !why.empty())
        return { {}, problem + "; and " + why };
    return { elsewhere, problem + "; " + elsewhere + " is used instead" };
}

std::string deviceSocketPath(const std::string& name)
{
    auto folder = runtimeFolder();
    if (folder.path.empty())
        return {};
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : DeviceLayout::current().settingsFile())
        hash = (hash ^ c) * 1099511628211ull;
    char tag[20];
    std::snprintf(tag, sizeof tag, "%016llx", static_cast<unsigned long long>(hash));
    return folder.path + "/" + name + "-" + tag;
}

} // namespace kit
