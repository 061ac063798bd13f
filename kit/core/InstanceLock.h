#pragma once
// One running application per device: an exclusive lock on a file beside the
// stored settings, held for the life of the process. Two instances on one
// device would write over each other's settings and run two transfer clients
// in one downloads folder. The kernel drops the lock when its holder dies, so
// a killed instance leaves nothing that stops the next one; the file only
// names the holder's process for the message.
#include "kit/core/ErrorOr.h"

#include <memory>
#include <string>

namespace kit {

class InstanceLock {
public:
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // The lock file of the current device layout.
    static std::string defaultPath();

    // Takes the lock at path. Fails when another process holds it (the error
    // names that process, code EWOULDBLOCK) or when the file cannot be made.
    static ErrorOr<std::unique_ptr<InstanceLock>> acquire(const std::string& path = defaultPath());

    const std::string& path() const { return m_path; }

private:
    InstanceLock(std::string path, int fd);

    std::string m_path;
    int m_fd { -1 };
};

} // namespace kit
