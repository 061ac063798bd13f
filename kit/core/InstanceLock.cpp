#include "kit/core/InstanceLock.h"

#include "kit/core/DeviceLayout.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace kit {

std::string InstanceLock::defaultPath()
{
    return std::filesystem::path(DeviceLayout::current().settingsFile()).replace_extension(".lock").string();
}

InstanceLock::InstanceLock(std::string path, int fd)
    : m_path(std::move(path))
    , m_fd(fd)
{
}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // drops the lock; the file stays for the next holder
}

ErrorOr<std::unique_ptr<InstanceLock>> InstanceLock::acquire(const std::string& path)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return Error::fromErrno("the instance lock " + path + " cannot be opened");
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err != EWOULDBLOCK) {
            ::close(fd);
            return Error::fromErrno("the instance lock " + path + " cannot be taken", err);
        }
        char buffer[32] {};
        [[maybe_unused]] auto n = ::pread(fd, buffer, sizeof buffer - 1, 0);
        ::close(fd);
        std::string holder(buffer);
        while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' '))
            holder.pop_back();
        return Error { "Quorvane is already running on this device" + (holder.empty() ? std::string() : " (process " + holder + ")"),
            EWOULDBLOCK };
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] auto n = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    return std::unique_ptr<InstanceLock>(new InstanceLock(path, fd));
}

} // namespace kit
