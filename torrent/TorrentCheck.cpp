#include "torrent/TorrentCheck.h"

#include "torrent/Bencode.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torrent {

std::optional<std::string> refusalForFileCount(std::string_view bytes)
{
    auto count = countFiles(bytes);
    if (!count || *count <= maxFileCount)
        return std::nullopt;
    return "it lists more than " + std::to_string(maxFileCount)
        + " files, more than any share this application can follow (the transfer client and the Files tab would hold every name)";
}

std::optional<std::string> refusalForDescription(std::string_view bytes)
{
    if (bytes.empty())
        return "the file is empty";
    if (bytes.front() != 'd')
        return "it holds no torrent description";
    // Checked whole, but only the top level is kept: the lists are read past.
    auto parsed = parse(bytes, 1);
    if (!parsed.value)
        return "its torrent description is damaged near byte " + std::to_string(parsed.position);
    const auto& description = *parsed.value;
    const auto* info = description.find("info");
    if (!info || !info->isDictionary())
        return "its torrent description has no \"info\" part naming the files";
    const auto* announce = description.find("announce");
    const auto* announceList = description.find("announce-list");
    bool hasTracker = announce && announce->isString() && !announce->string.empty();
    if (!hasTracker && announceList && announceList->isList())
        forEachItem(announceList->raw, 0, [&](const Value&) { hasTracker = true; return false; });
    if (!hasTracker)
        return "it names no tracker, and the transfer client finds its peers through one";
    if (auto why = refusalForVersion(info->raw))
        return why;
    return refusalForFileCount(bytes);
}

std::optional<std::string> refusalForVersion(std::string_view infoBytes)
{
    // A torrent of the protocol's second version alone hashes its files in
    // trees and has no "pieces": the client cannot check a byte of it. A
    // hybrid carries both and is taken.
    auto parsed = parse(infoBytes, 1);
    if (!parsed.value || !parsed.value->isDictionary())
        return std::nullopt;
    const auto* version = parsed.value->find("meta version");
    const auto* pieces = parsed.value->find("pieces");
    if (!version || version->asInteger() != 2 || (pieces && pieces->isString()))
        return std::nullopt;
    return std::string(v2OnlyReason);
}

std::optional<std::string> withAnnounceKey(std::string_view bytes)
{
    auto parsed = parse(bytes, 1);
    if (!parsed.value || !parsed.value->isDictionary() || parsed.value->find("announce"))
        return std::nullopt;
    const auto* list = parsed.value->find("announce-list");
    if (!list || !list->isList())
        return std::nullopt;
    std::string first;
    forEachItem(list->raw, 2, [&](const Value& tier) {
        if (tier.isList() && !tier.items.empty() && tier.items.front().isString())
            first = std::string(tier.items.front().string);
        return first.empty();
    });
    if (first.empty())
        return std::nullopt;
    // Keys stay in order: it goes after every key that sorts before it.
    const auto& top = *parsed.value;
    size_t at = 1;
    for (size_t i = 0; i < top.keys.size() && top.keys[i] < "announce"; ++i)
        at = size_t(top.items[i].raw.data() + top.items[i].raw.size() - bytes.data());
    std::string out(bytes.substr(0, at));
    out += "8:announce" + std::to_string(first.size()) + ":" + first;
    out += bytes.substr(at);
    return out;
}

std::optional<Refusal> refusalForFile(const std::string& path)
{
    auto unreadable = [&](int err) { return Refusal { "Cannot open the file", path + "\ncannot be read: " + std::strerror(err) + "." }; };
    auto unfit = [&](const struct stat& st) -> std::optional<Refusal> {
        if (S_ISDIR(st.st_mode))
            return Refusal { "Not a .torrent file", path + "\nis a folder, not a .torrent file." };
        if (!S_ISREG(st.st_mode))
            return Refusal { "Not a .torrent file", path + "\nis not a file." };
        if (st.st_size > maxFileSize)
            return Refusal { "Not a .torrent file", path + "\nis too large to be a .torrent file." };
        return std::nullopt;
    };
    // A device or a pipe is never opened (opening one can block or act);
    // what is opened is checked again, in case it was swapped meanwhile.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return unreadable(errno);
    if (auto refusal = unfit(st))
        return refusal;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return unreadable(errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer { fd };
    if (::fstat(fd, &st) != 0)
        return unreadable(errno);
    if (auto refusal = unfit(st))
        return refusal;
    std::string bytes(size_t(st.st_size), '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return unreadable(errno);
        if (n == 0)
            break;
        got += size_t(n);
    }
    bytes.resize(got);
    if (auto why = refusalForDescription(bytes)) {
        if (*why == v2OnlyReason)
            return Refusal { cannotDownloadTitle, path + "\ncannot be downloaded: " + *why + "." };
        if (refusalForFileCount(bytes))
            return Refusal { tooManyFilesTitle, path + "\ncannot be downloaded: " + *why + "." };
        return Refusal { "Not a .torrent file", path + "\nis not a .torrent file: " + *why + "." };
    }
    return std::nullopt;
}

} // namespace torrent
