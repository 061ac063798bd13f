#include "kit/core/FileHandle.h"

#include "kit/core/NotificationCenter.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kit {

FileHandle::FileHandle(int fd)
    : m_fd(fd)
{
    // Our end never blocks the loop: readiness is what poll reports.
    if (m_fd >= 0)
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
}

FileHandle::~FileHandle()
{
    closeFile();
}

void FileHandle::closeFile()
{
    m_watch.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void FileHandle::readInBackgroundAndNotify()
{
    if (m_watch)
        return; // one read at a time, as on the platform
    if (m_fd < 0) {
        NotificationCenter::defaultCenter().postNotification(ReadCompletionNotification, this, { { DataItem, std::string() } });
        return;
    }
    m_watch = std::make_unique<FdWatcher>(m_fd, FdWatcher::Read, [this](unsigned) { readReady(); });
}

void FileHandle::readReady()
{
    std::string bytes(chunkSize, '\0');
    ssize_t n;
    do
        n = ::read(m_fd, bytes.data(), bytes.size());
    while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return; // spurious wake-up: keep waiting
    bytes.resize(n > 0 ? size_t(n) : 0);
    m_watch.reset();
    NotificationCenter::defaultCenter().postNotification(ReadCompletionNotification, this, { { DataItem, std::move(bytes) } });
}

} // namespace kit
