#pragma once
// The stored settings: a persistent, process-wide store of strings by key.
// Every set is written through to a file at once, atomically (a temporary
// file, flushed, then renamed over the old one), so a crash never leaves half
// a file. A file that cannot be read as settings is moved aside (".corrupt")
// and the application starts with empty settings.
#include <map>
#include <optional>
#include <string>

namespace kit {

class UserDefaults {
public:
    static UserDefaults& standard();

    // Loads the store kept in path (the device layout's settings file).
    void open(std::string path);
    const std::string& path() const { return m_path; }

    std::optional<std::string> stringForKey(const std::string& key) const;
    void setObject(const std::string& value, const std::string& key);
    void removeObject(const std::string& key);
    const std::map<std::string, std::string>& dictionary() const { return m_values; }
    // Takes what another process of this user (the window, the service)
    // stored since; done before every change, so that none undoes another's.
    void refresh();

    // The file format, exposed for tests: a header line, then key TAB value
    // lines with backslash escapes for backslash, tab and line breaks.
    static std::string encode(const std::map<std::string, std::string>& values);
    static std::optional<std::map<std::string, std::string>> decode(const std::string& text);

private:
    void save();

    std::string m_path;
    std::map<std::string, std::string> m_values;
    // What the file is known to hold: read from it or written to it last.
    std::optional<std::string> m_stored;
};

} // namespace kit
