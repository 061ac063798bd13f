#include "kit/core/FollowedFile.h"

#include "kit/core/NotificationCenter.h"
#include "kit/core/RunLoop.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kit {

ErrorOr<std::shared_ptr<FollowedFile>> FollowedFile::open(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return Error::fromErrno(path);
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Error { path + ": not a regular file", 0 };
    }
    auto file = std::make_shared<FollowedFile>(Private {}, path, fd);
    file->setWatching(true);
    file->m_offset = st.st_size;
    return file;
}

FollowedFile::FollowedFile(Private, std::string path, int fd)
    : m_path(std::move(path))
    , m_fd(fd)
{
}

void FollowedFile::setWatching(bool watching)
{
    if (watching == isWatching() || m_fd < 0)
        return;
    if (!watching) {
        m_watch.reset();
        ::close(m_watchFd);
        m_watchFd = -1;
        return;
    }
    // Without a watch the owner's poll() still finds what is new.
    m_watchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watchFd >= 0 && ::inotify_add_watch(m_watchFd, m_path.c_str(), IN_MODIFY) < 0) {
        ::close(m_watchFd);
        m_watchFd = -1;
    }
    if (m_watchFd < 0)
        return;
    m_watch = std::make_unique<FdWatcher>(m_watchFd, FdWatcher::Read, [this](unsigned) {
        char events[4096];
        while (::read(m_watchFd, events, sizeof events) > 0) { }
        scheduleDelivery();
    });
    scheduleDelivery();
}

FollowedFile::~FollowedFile()
{
    closeFile();
}

void FollowedFile::closeFile()
{
    m_watch.reset();
    if (m_watchFd >= 0)
        ::close(m_watchFd);
    m_watchFd = -1;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void FollowedFile::startAtLastLine()
{
    if (m_fd < 0)
        return;
    struct stat st { };
    if (::fstat(m_fd, &st) != 0)
        return;
    // The last line with more than a line break in it, within the last 4 KiB.
    const off_t from = std::max<off_t>(0, st.st_size - 4096);
    std::string tail(size_t(st.st_size - from), '\0');
    const ssize_t n = ::pread(m_fd, tail.data(), tail.size(), from);
    if (n <= 0) {
        m_offset = st.st_size;
        return;
    }
    tail.resize(size_t(n));
    auto end = tail.find_last_not_of("\r\n ");
    if (end == std::string::npos) {
        m_offset = st.st_size;
        return;
    }
    auto lineStart = tail.find_last_of('\n', end);
    m_offset = from + off_t(lineStart == std::string::npos ? 0 : lineStart);
}

void FollowedFile::readInBackgroundAndNotify()
{
    if (m_wanted)
        return; // one read at a time, as on a pipe
    m_wanted = true;
    scheduleDelivery();
}

void FollowedFile::poll()
{
    scheduleDelivery();
}

void FollowedFile::writerEnded()
{
    m_writerEnded = true;
    scheduleDelivery();
}

void FollowedFile::scheduleDelivery()
{
    if (!m_wanted || m_scheduled)
        return;
    // Delivered from the loop, never within the call that asked (as a pipe's read).
    m_scheduled = true;
    RunLoop::main().post([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->m_scheduled = false;
            self->deliver();
        }
    });
}

void FollowedFile::deliver()
{
    if (!m_wanted)
        return;
    std::string bytes;
    if (m_fd >= 0) {
        struct stat st { };
        if (::fstat(m_fd, &st) == 0 && st.st_size < m_offset)
            m_offset = 0; // cut short by someone else: read from the start
        bytes.resize(chunkSize);
        ssize_t n;
        do
            n = ::pread(m_fd, bytes.data(), bytes.size(), m_offset);
        while (n < 0 && errno == EINTR);
        bytes.resize(n > 0 ? size_t(n) : 0);
        m_offset += off_t(bytes.size());
        // Everything read and the file has grown large: cut it back. What
        // the writer appends between this read and the cut is lost with it;
        // it is a log, and the window is small.
        if (bytes.size() < chunkSize && m_offset > largestSize && ::ftruncate(m_fd, 0) == 0)
            m_offset = 0;
    }
    if (bytes.empty() && !m_writerEnded && m_fd >= 0)
        return; // nothing new: wait for the next write
    m_wanted = false;
    // More may be there already: the next read will find it.
    NotificationCenter::defaultCenter().postNotification(ReadCompletionNotification, this, { { DataItem, std::move(bytes) } });
}

} // namespace kit
