#include "kit/core/UserDefaults.h"

#include "kit/core/LineEscape.h"
#include "kit/core/Log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace kit {

namespace {
constexpr const char* header = "quorvane-settings 1";

} // namespace

UserDefaults& UserDefaults::standard()
{
    static UserDefaults defaults;
    return defaults;
}

std::string UserDefaults::encode(const std::map<std::string, std::string>& values)
{
    std::string out = std::string(header) + "\n";
    for (auto& [k, v] : values)
        out += escapeLine(k) + "\t" + escapeLine(v) + "\n";
    return out;
}

std::optional<std::map<std::string, std::string>> UserDefaults::decode(const std::string& text)
{
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != header)
        return std::nullopt;
    std::map<std::string, std::string> values;
    bool ended = text.empty() || text.back() == '\n';
    if (!ended) // a file cut short in the middle of a line is not trusted
        return std::nullopt;
    while (std::getline(in, line)) {
        auto tab = line.find('\t');
        if (tab == std::string::npos)
            return std::nullopt;
        auto k = unescapeLine(line.substr(0, tab));
        auto v = unescapeLine(line.substr(tab + 1));
        if (!k || !v)
            return std::nullopt;
        values[*k] = *v;
    }
    return values;
}

void UserDefaults::open(std::string path)
{
    m_path = std::move(path);
    m_values.clear();
    m_stored.reset();
    std::error_code ec;
    if (!std::filesystem::exists(m_path, ec))
        return;
    std::ifstream in(m_path, std::ios::binary);
    std::stringstream buf;
    buf << in.rdbuf();
    auto values = in ? decode(buf.str()) : std::nullopt;
    if (!values) {
        auto aside = m_path + ".corrupt";
        std::filesystem::rename(m_path, aside, ec);
        log("Stored settings in " + m_path + " could not be read; moved aside to " + aside + ", starting with empty settings");
        return;
    }
    m_values = std::move(*values);
    m_stored = buf.str();
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const
{
    auto it = m_values.find(key);
    if (it == m_values.end())
        return std::nullopt;
    return it->second;
}

void UserDefaults::setObject(const std::string& value, const std::string& key)
{
    refresh();
    m_values[key] = value;
    save();
}

void UserDefaults::removeObject(const std::string& key)
{
    refresh();
    if (m_values.erase(key))
        save();
}

void UserDefaults::refresh()
{
    if (m_path.empty())
        return;
    std::ifstream in(m_path, std::ios::binary);
    if (!in)
        return;
    std::stringstream buf;
    buf << in.rdbuf();
    if (m_stored && buf.str() == *m_stored)
        return;
    // What cannot be read is left to the next start to set aside.
    if (auto values = decode(buf.str())) {
        m_values = std::move(*values);
        m_stored = buf.str();
    }
}

void UserDefaults::save()
{
    if (m_path.empty())
        return;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(m_path).parent_path(), ec);
    const std::string tmp = m_path + ".tmp";
    const std::string text = encode(m_values);
    // A value set again as it was (the application does so at every start)
    // leaves the file as it is: writing it costs a flush to the disk.
    if (text == m_stored && std::filesystem::exists(m_path, ec))
        return;
    m_stored.reset();
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0;
    size_t done = 0;
    while (ok && done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += size_t(n);
    }
    if (ok)
        ok = ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (ok)
        ok = ::rename(tmp.c_str(), m_path.c_str()) == 0;
    if (!ok) {
        log("Stored settings could not be written to " + m_path + ": " + std::strerror(errno));
        ::unlink(tmp.c_str());
    } else {
        m_stored = text;
    }
}

} // namespace kit
