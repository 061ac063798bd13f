#include "transfers/ClientFailure.h"

#include "kit/core/Ascii.h"

#include <array>
#include <cctype>

namespace {

constexpr size_t longestLine = 4096; // a status line is far shorter; more is no line we know

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// The system's reason after the client's "failed:" (strerror's words), as
// part of a sentence: "Permission denied" becomes "permission denied".
std::string reasonAfter(std::string_view line, std::string_view marker)
{
    auto at = line.rfind(marker);
    if (at == std::string_view::npos)
        return "";
    std::string reason(kit::trimmed(line.substr(at + marker.size())));
    if (reason.size() > 1 && std::isupper(static_cast<unsigned char>(reason[0])) && std::islower(static_cast<unsigned char>(reason[1])))
        reason[0] = char(std::tolower(static_cast<unsigned char>(reason[0])));
    while (!reason.empty() && reason.back() == '.')
        reason.pop_back();
    return reason;
}

std::string withReason(const char* what, const std::string& reason)
{
    return reason.empty() ? std::string(what) : std::string(what) + ": " + reason;
}

} // namespace

std::optional<std::string> ClientFailure::wordsForLine(std::string_view text)
{
    auto line = kit::trimmed(text);
    if (!startsWith(line, "error, ") && !startsWith(line, "warn, WriteSlice failed"))
        return std::nullopt;
    // Files the client makes or writes in its working folder, the downloads folder.
    static constexpr std::array writing {
        std::string_view("error, create file \""),
        std::string_view("error, couldn't create file \""),
        std::string_view("error, couldn't create \""),
        std::string_view("error, write failed at "),
        std::string_view("error, flush failed at "),
        std::string_view("error, change work directory to \""),
    };
    for (auto prefix : writing)
        if (startsWith(line, prefix))
            return withReason(cannotWrite, reasonAfter(line, ":  "));
    if (startsWith(line, "warn, WriteSlice failed"))
        return withReason(cannotWrite, "is the disk full?");
    // The .torrent file itself.
    if (startsWith(line, "error, open \"") || startsWith(line, "error, stat \""))
        return withReason(cannotRead, reasonAfter(line, ":  "));
    if (startsWith(line, "error, file \"") && line.find("size doesn't match") != std::string_view::npos)
        return std::string("A different file of the same name is in the downloads folder");
    if (startsWith(line, "error, unsafe path") || startsWith(line, "error, invalid path in torrent data")
        || startsWith(line, "error, inappropriate file or directory name") || startsWith(line, "error, pathname too long"))
        return std::string(notATorrent) + ": it names a file outside its folder or a bad file name";
    if (startsWith(line, "error, initial meta info failed"))
        return std::string(notATorrent);
    if (startsWith(line, "error, tracker setup failed"))
        return std::string("The torrent's tracker address cannot be used");
    if (startsWith(line, "error, couldn't bind port") || startsWith(line, "error, couldn't listen on port"))
        return std::string("No network port is free for the transfer");
    return std::nullopt;
}

void ClientFailure::line(std::string_view text)
{
    auto words = wordsForLine(text);
    if (!words)
        return;
    const bool generic = *words == notATorrent;
    if (m_words && !(m_generic && !generic))
        return;
    m_words = std::move(words);
    m_generic = generic;
}

void ClientFailure::feed(std::string_view chunk)
{
    size_t start = 0;
    for (size_t i = 0; i < chunk.size(); ++i) {
        if (chunk[i] != '\n' && chunk[i] != '\r')
            continue;
        m_partial.append(chunk.substr(start, i - start));
        line(m_partial);
        m_partial.clear();
        start = i + 1;
    }
    m_partial.append(chunk.substr(start));
    if (m_partial.size() > longestLine)
        m_partial.erase(0, m_partial.size() - longestLine);
}

void ClientFailure::finish()
{
    line(m_partial);
    m_partial.clear();
}
