#pragma once
// A file that another process appends to (a transfer client's output), read
// the way FileHandle reads a pipe: readInBackgroundAndNotify() posts
// ReadCompletionNotification, with this object and the new bytes (at most one
// chunk), once there are new bytes. The file is watched for writes (inotify),
// and poll() looks again where the kernel gives no watch; an owner that polls
// on a tick of its own may let the watch go for a while, and then wakes for
// nothing else (a client writes its output every second). End of output is
// not the end of the file: once the owner says the writer has ended, what is
// left is read and then an empty chunk is posted.
//
// The file is kept small: once everything written has been read and more
// than `largestSize` bytes were, it is cut back to nothing, and the writer
// (which appends) goes on at its new end.
#include "kit/core/ErrorOr.h"
#include "kit/core/FdWatcher.h"

#include <memory>
#include <string>
#include <sys/types.h>

namespace kit {

class FollowedFile : public std::enable_shared_from_this<FollowedFile> {
public:
    // Its own name: an observer of every pipe read must not take it for a FileHandle.
    static constexpr const char* ReadCompletionNotification = "FollowedFileReadCompletionNotification";
    static constexpr const char* DataItem = "NSFileHandleNotificationDataItem";
    static constexpr size_t chunkSize = 64 * 1024;
    static constexpr off_t largestSize = 1024 * 1024;

    // Opens (made 0600 when new) at its end: what was written before is not read.
    static ErrorOr<std::shared_ptr<FollowedFile>> open(const std::string& path);
    ~FollowedFile();
    FollowedFile(const FollowedFile&) = delete;
    FollowedFile& operator=(const FollowedFile&) = delete;

    const std::string& path() const { return m_path; }
    // Reading starts at the last line written (a client taken over shows its latest status).
    void startAtLastLine();
    void readInBackgroundAndNotify();
    bool isReading() const { return m_wanted; }
    // Looks for new bytes now (the owner's tick; a no-op while no read is asked for).
    void poll();
    // With the watch, new bytes are read as soon as they are written; without
    // it, only on poll(). Taken again, it looks at once for what came meanwhile.
    void setWatching(bool watching);
    bool isWatching() const { return m_watchFd >= 0; }
    void writerEnded();
    void closeFile();

private:
    struct Private {
        explicit Private() = default;
    };

public:
    FollowedFile(Private, std::string path, int fd);

private:
    void deliver();
    void scheduleDelivery();

    std::string m_path;
    int m_fd { -1 };
    int m_watchFd { -1 };
    off_t m_offset { 0 };
    bool m_wanted { false };
    bool m_scheduled { false };
    bool m_writerEnded { false };
    std::unique_ptr<FdWatcher> m_watch;
};

} // namespace kit
