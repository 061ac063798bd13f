#include "kit/core/AtomicFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <string_view>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace kit {

namespace {
// mkstemp's pattern: six letters or digits take the place of the X's.
constexpr std::string_view temporarySuffix = ".XXXXXX";
}

ErrorOr<void> writeFileAtomically(const std::string& path, const uint8_t* bytes, size_t length, FileAccess access)
{
    if (path.empty() || path.back() == '/')
        return Error { "no file name in \"" + path + "\"" };
    std::string temp = path + std::string(temporarySuffix);
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return Error::fromErrno("cannot make a temporary file beside " + path);
    std::optional<Error> failed;
    size_t written = 0;
    while (!failed && written < length) {
        ssize_t n = ::write(fd, bytes + written, length - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            failed = Error::fromErrno("cannot write " + temp);
        else if (n == 0)
            failed = Error { "cannot write " + temp + ": nothing was written" };
        else
            written += size_t(n);
    }
    // mkstemp makes the file private; a kept file is an ordinary document.
    mode_t mask = ::umask(0);
    ::umask(mask);
    if (!failed && ::fchmod(fd, access == FileAccess::Private ? 0600 : 0666 & ~mask) != 0)
        failed = Error::fromErrno("cannot set the permissions of " + temp);
    if (!failed && ::fsync(fd) != 0)
        failed = Error::fromErrno("cannot flush " + temp);
    if (::close(fd) != 0 && !failed)
        failed = Error::fromErrno("cannot close " + temp);
    if (!failed && ::rename(temp.c_str(), path.c_str()) != 0)
        failed = Error::fromErrno("cannot replace " + path);
    if (failed) {
        ::unlink(temp.c_str());
        return *failed;
    }
    return {};
}

size_t removeLeftoverCopies(const std::string& path)
{
    namespace fs = std::filesystem;
    const fs::path whole(path);
    const std::string prefix = whole.filename().string() + ".";
    std::error_code ec;
    size_t removed = 0;
    for (fs::directory_iterator it(whole.parent_path().empty() ? fs::path(".") : whole.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != prefix.size() + temporarySuffix.size() - 1 || !name.starts_with(prefix))
            continue;
        if (!std::all_of(name.begin() + std::ptrdiff_t(prefix.size()), name.end(), [](unsigned char c) { return std::isalnum(c); }))
            continue;
        std::error_code typeError;
        if (!it->is_regular_file(typeError) || it->is_symlink(typeError))
            continue;
        if (::unlink(it->path().c_str()) == 0)
            ++removed;
    }
    return removed;
}

} // namespace kit
