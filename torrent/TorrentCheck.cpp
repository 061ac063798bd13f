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
    return refusalForFileCount(bytes);
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
        if (refusalForFileCount(bytes))
            return Refusal { tooManyFilesTitle, path + "\ncannot be downloaded: " + *why + "." };
        return Refusal { "Not a .torrent file", path + "\nis not a .torrent file: " + *why + "." };
    }
    return std::nullopt;
}

} // namespace torrent
