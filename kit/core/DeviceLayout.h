#pragma once
// The device's fixed places, from one spot. With a root folder (tests, the
// demo, --root) the handheld's paths are laid under it unchanged; without one
// the Linux places a user expects are used: the XDG downloads folder, the home
// folder and its Documents folder, the settings under the XDG config folder.
// The transfer client works in the downloads folder, so that what it fetches
// lands where the downloads tab lists it.
#include <optional>
#include <string>

namespace kit {

class DeviceLayout {
public:
    static DeviceLayout& current();

    // Empty: no root (the user's own places).
    void setRoot(std::string root);
    const std::string& root() const { return m_root; }
    bool hasRoot() const { return !m_root.empty(); }

    std::string downloadsFolder() const;      // "/var/mobile/Library/Downloads"
    std::string homeFolder() const;           // the user's home folder
    std::string documentsFolder() const;      // "Documents" under home
    std::string ctorrentPath() const;         // "/usr/bin/ctorrent"
    std::string transferWorkingFolder() const;
    std::string settingsFile() const;
    std::string supportFolder() const;        // kit's own state (identifiers and such)
    std::string stateFolder() const;          // what outlives a run: the transfer clients' output

    // Maps a fixed device path (absolute) into the layout.
    std::string devicePath(const std::string& fixedPath) const;

    // Creates the folders the application expects to exist.
    void prepare() const;

private:
    std::string m_root;
};

} // namespace kit
