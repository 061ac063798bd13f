#include "kit/core/AtomicFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace kit {

ErrorOr<void> writeFileAtomically(const std::string& path, const uint8_t* bytes, size_t length)
{
    if (path.empty() || path.back() == '/')
        return Error { "no file name in \"" + path + "\"" };
    std::string temp = path + ".XXXXXX";
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
    if (!failed && ::fchmod(fd, 0666 & ~mask) != 0)
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

} // namespace kit
