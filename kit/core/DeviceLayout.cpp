#include "kit/core/DeviceLayout.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <fstream>

namespace kit {

namespace {
std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string userHome()
{
    auto home = env("HOME");
    return home.empty() ? std::string("/tmp") : home;
}

// The XDG downloads folder: XDG_DOWNLOAD_DIR from user-dirs.dirs, else ~/Downloads.
std::string xdgDownloads()
{
    auto config = env("XDG_CONFIG_HOME");
    if (config.empty())
        config = userHome() + "/.config";
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DOWNLOAD_DIR=";
        if (line.rfind(key, 0) != 0)
            continue;
        auto value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0)
            value = userHome() + value.substr(5);
        if (!value.empty() && value[0] == '/')
            return value;
    }
    return userHome() + "/Downloads";
}
} // namespace

DeviceLayout& DeviceLayout::current()
{
    static DeviceLayout layout;
    return layout;
}

void DeviceLayout::setRoot(std::string root)
{
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    if (!root.empty())
        root = std::filesystem::absolute(root).lexically_normal().string();
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    m_root = root;
}

std::string DeviceLayout::devicePath(const std::string& fixedPath) const
{
    if (!hasRoot())
        return fixedPath;
    return m_root + (fixedPath.empty() || fixedPath[0] != '/' ? "/" : "") + fixedPath;
}

std::string DeviceLayout::downloadsFolder() const
{
    return hasRoot() ? devicePath("/var/mobile/Library/Downloads") : xdgDownloads();
}

std::string DeviceLayout::homeFolder() const
{
    return hasRoot() ? devicePath("/var/mobile") : userHome();
}

std::string DeviceLayout::documentsFolder() const
{
    return homeFolder() + "/Documents";
}

std::string DeviceLayout::ctorrentPath() const
{
    return devicePath("/usr/bin/ctorrent");
}

std::string DeviceLayout::transferWorkingFolder() const
{
    return downloadsFolder();
}

std::string DeviceLayout::supportFolder() const
{
    if (hasRoot())
        return devicePath("/var/mobile/Library/Quorvane");
    auto data = env("XDG_DATA_HOME");
    if (data.empty())
        data = userHome() + "/.local/share";
    return data + "/quorvane";
}

std::string DeviceLayout::stateFolder() const
{
    if (hasRoot())
        return devicePath("/var/mobile/Library/Quorvane/state");
    auto state = env("XDG_STATE_HOME");
    if (state.empty())
        state = userHome() + "/.local/state";
    return state + "/quorvane";
}

std::string DeviceLayout::settingsFile() const
{
    if (hasRoot())
        return devicePath("/var/mobile/Library/Preferences/quorvane.settings");
    auto config = env("XDG_CONFIG_HOME");
    if (config.empty())
        config = userHome() + "/.config";
    return config + "/quorvane/settings";
}

void DeviceLayout::prepare() const
{
    std::error_code ec;
    for (auto& dir : { downloadsFolder(), documentsFolder(), supportFolder(), stateFolder(),
             std::filesystem::path(settingsFile()).parent_path().string() })
        std::filesystem::create_directories(dir, ec);
    // What outlives a run (the clients' output, the stored transfers, the
    // log) names the user's torrents: no other user may look in.
    for (auto& dir : { supportFolder(), stateFolder() }) {
        struct stat st {};
        if (::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077))
            ::chmod(dir.c_str(), st.st_mode & 0700);
    }
}

} // namespace kit
