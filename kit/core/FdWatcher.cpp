#include "kit/core/FdWatcher.h"

#include "kit/core/RunLoop.h"

namespace kit {

FdWatcher::FdWatcher(int fd, unsigned events, Callback callback)
    : FdWatcher(RunLoop::main(), fd, events, std::move(callback))
{
}

FdWatcher::FdWatcher(RunLoop& loop, int fd, unsigned events, Callback callback)
    : m_loop(loop)
    , m_fd(fd)
    , m_id(loop.addWatch(fd, events, std::make_shared<std::function<void(unsigned)>>(std::move(callback))))
{
}

FdWatcher::~FdWatcher()
{
    m_loop.removeWatch(m_id);
}

void FdWatcher::setEnabled(bool enabled)
{
    m_loop.setWatchEnabled(m_id, enabled);
}

} // namespace kit
