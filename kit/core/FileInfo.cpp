#include "kit/core/FileInfo.h"

#include "kit/core/DeviceLayout.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace kit {

double wallClockNow()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::optional<double> fileModificationTime(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    return double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9;
}

bool setFileModificationTime(const std::string& path, double seconds)
{
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    double whole = std::floor(seconds);
    times[1].tv_sec = time_t(whole);
    times[1].tv_nsec = long((seconds - whole) * 1e9);
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    const std::string temporary = path + ".partial";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            ::unlink(temporary.c_str());
            return false;
        }
        done += size_t(n);
    }
    if (::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::optional<std::vector<uint8_t>> readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string documentFolder()
{
    return DeviceLayout::current().documentsFolder();
}

} // namespace kit
