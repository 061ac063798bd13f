#include "kit/core/SecretFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace kit {
namespace {

constexpr const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t alphabetSize = sizeof(alphabet) - 1;

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) { }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

ErrorOr<std::string> randomText(size_t length)
{
    Fd random(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
    if (random.get() < 0)
        return Error::fromErrno("Cannot open /dev/urandom");
    std::string text;
    unsigned char bytes[64];
    while (text.size() < length) {
        ssize_t got = ::read(random.get(), bytes, sizeof bytes);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return Error::fromErrno("Cannot read /dev/urandom", got < 0 ? errno : EIO);
        // Bytes past the last whole multiple of the alphabet are dropped, so
        // that every letter is equally likely.
        for (ssize_t i = 0; i < got && text.size() < length; ++i) {
            if (bytes[i] < 256 - 256 % alphabetSize)
                text += alphabet[bytes[i] % alphabetSize];
        }
    }
    return text;
}

namespace {

bool usable(const std::string& secret, size_t minLength, size_t maxLength)
{
    if (secret.size() < minLength || secret.size() > maxLength)
        return false;
    for (unsigned char c : secret) {
        if (c <= 0x20 || c >= 0x7f)
            return false;
    }
    return true;
}

ErrorOr<std::string> readPrivate(const std::string& path, size_t minLength, size_t maxLength)
{
    Fd file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) {
        if (errno == ELOOP)
            return Error { "The secret file " + path + " is a symbolic link; it must be a private regular file", ELOOP };
        return Error::fromErrno("Cannot open the secret file " + path);
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        return Error::fromErrno("Cannot look at the secret file " + path);
    if (!S_ISREG(info.st_mode))
        return Error { "The secret file " + path + " is not a regular file", 0 };
    if (info.st_uid != ::geteuid())
        return Error { "The secret file " + path + " belongs to another user", 0 };
    if (info.st_mode & 077) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(info.st_mode & 07777));
        return Error { "The secret file " + path + " can be used by other users (mode " + mode
                + "); make it private (chmod 600) or remove it to have a new one made",
            0 };
    }
    std::string text;
    char buffer[256];
    for (;;) {
        ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Error::fromErrno("Cannot read the secret file " + path);
        if (got == 0)
            break;
        text.append(buffer, size_t(got));
        if (text.size() > 4096)
            break;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (!usable(text, minLength, maxLength))
        return Error { "The secret file " + path + " holds no usable secret (" + std::to_string(minLength) + " to "
                + std::to_string(maxLength) + " printable characters without blanks); remove it to have a new one made",
            0 };
    return text;
}

} // namespace

ErrorOr<std::string> privateSecret(const std::string& path, size_t length, size_t minLength, size_t maxLength)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 || errno != ENOENT)
        return readPrivate(path, minLength, maxLength);

    auto folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty())
        std::filesystem::create_directories(folder, ec);
    auto secret = randomText(length);
    if (secret.isError())
        return secret.error();

    // Written whole under a name of its own, then linked in place: another
    // process never reads half a secret, and of two made at once the first
    // linked wins (the other reads it).
    std::string temporary = path + ".new." + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    {
        Fd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.get() < 0)
            return Error::fromErrno("Cannot make the secret file " + path);
        std::string bytes = secret.value() + "\n";
        bool written = ::write(file.get(), bytes.data(), bytes.size()) == ssize_t(bytes.size());
        int err = errno;
        if (!written || ::fsync(file.get()) != 0) {
            ::unlink(temporary.c_str());
            return Error::fromErrno("Cannot write the secret file " + path, written ? errno : err);
        }
    }
    int linked = ::link(temporary.c_str(), path.c_str());
    int err = errno;
    ::unlink(temporary.c_str());
    if (linked != 0) {
        if (err == EEXIST)
            return readPrivate(path, minLength, maxLength);
        return Error::fromErrno("Cannot make the secret file " + path, err);
    }
    return secret;
}

} // namespace kit
