#pragma once
// A file descriptor owned by this object, with the platform's background read:
// readInBackgroundAndNotify() waits on the main run loop until bytes are
// available, reads what is there (at least one byte, at most one chunk) and
// posts ReadCompletionNotification with this handle as the object and the
// bytes (a std::string) under DataItem. End of file, or a read error, posts an
// empty chunk. Destroying the handle cancels a pending read.
#include "kit/core/FdWatcher.h"

#include <memory>
#include <string>

namespace kit {

class FileHandle {
public:
    static constexpr const char* ReadCompletionNotification = "NSFileHandleReadCompletionNotification";
    static constexpr const char* DataItem = "NSFileHandleNotificationDataItem";
    static constexpr size_t chunkSize = 64 * 1024;

    explicit FileHandle(int fd);
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int fileDescriptor() const { return m_fd; }
    void readInBackgroundAndNotify();
    bool isReading() const { return m_watch != nullptr; }
    void closeFile();

private:
    void readReady();

    int m_fd;
    std::unique_ptr<FdWatcher> m_watch;
};

} // namespace kit
