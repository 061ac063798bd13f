#pragma once
// Watches a file descriptor on the main run loop. The registration lives as
// long as this object: destroying it (also from inside its own callback)
// unregisters it. The descriptor itself is not owned.
#include <functional>
#include <memory>

namespace kit {

class RunLoop;

class FdWatcher {
public:
    enum Event : unsigned { Read = 1, Write = 2, Error = 4 };
    using Callback = std::function<void(unsigned events)>;

    FdWatcher(int fd, unsigned events, Callback callback);
    FdWatcher(RunLoop& loop, int fd, unsigned events, Callback callback);
    ~FdWatcher();
    FdWatcher(const FdWatcher&) = delete;
    FdWatcher& operator=(const FdWatcher&) = delete;

    void setEnabled(bool enabled);
    int fd() const { return m_fd; }

private:
    RunLoop& m_loop;
    int m_fd;
    uint64_t m_id;
};

} // namespace kit
