#include "shells/qt/RunLoopBridge.h"

#include "kit/FdWatcher.h"

#include <cmath>

namespace qtshell {

namespace {
void retire(QSocketNotifier*& notifier)
{
    if (!notifier)
        return;
    // It may be the one emitting right now; its descriptor may be closed
    // already: switch it off at once, delete it later.
    notifier->setEnabled(false);
    notifier->deleteLater();
    notifier = nullptr;
}
} // namespace

RunLoopBridge::RunLoopBridge(kit::RunLoop& loop)
    : m_loop(loop)
{
    m_due.setSingleShot(true);
    m_due.setTimerType(Qt::PreciseTimer);
    connect(&m_due, &QTimer::timeout, this, [this] { turn(); });
    m_posted.setSingleShot(true);
    m_posted.setInterval(0);
    connect(&m_posted, &QTimer::timeout, this, [this] { turn(); });
    m_loop.onChange = [this] { sync(); };
    sync();
}

RunLoopBridge::~RunLoopBridge()
{
    m_loop.onChange = nullptr;
    for (auto& [fd, n] : m_notifiers) {
        delete n.read;
        delete n.write;
    }
}

size_t RunLoopBridge::notifierCount() const
{
    size_t count = 0;
    for (auto& [fd, n] : m_notifiers)
        count += (n.read ? 1 : 0) + (n.write ? 1 : 0);
    return count;
}

void RunLoopBridge::turn()
{
    m_loop.runDue();
    sync();
}

void RunLoopBridge::dispatch(int fd, unsigned events)
{
    m_loop.dispatchFd(fd, events);
    // A read may have queued work (a pipe's completion notification).
    sync();
}

void RunLoopBridge::sync()
{
    if (m_syncing)
        return;
    m_syncing = true;
    std::map<int, unsigned> wanted;
    for (auto& w : m_loop.watches())
        wanted[w.fd] |= w.events;
    for (auto it = m_notifiers.begin(); it != m_notifiers.end();) {
        auto found = wanted.find(it->first);
        unsigned events = found == wanted.end() ? 0 : found->second;
        if (!(events & kit::FdWatcher::Read))
            retire(it->second.read);
        if (!(events & kit::FdWatcher::Write))
            retire(it->second.write);
        if (!it->second.read && !it->second.write)
            it = m_notifiers.erase(it);
        else
            ++it;
    }
    for (auto& [fd, events] : wanted) {
        auto& n = m_notifiers[fd];
        const int watched = fd;
        if ((events & kit::FdWatcher::Read) && !n.read) {
            n.read = new QSocketNotifier(fd, QSocketNotifier::Read, this);
            connect(n.read, &QSocketNotifier::activated, this, [this, watched] { dispatch(watched, kit::FdWatcher::Read); });
        }
        if ((events & kit::FdWatcher::Write) && !n.write) {
            n.write = new QSocketNotifier(fd, QSocketNotifier::Write, this);
            connect(n.write, &QSocketNotifier::activated, this, [this, watched] { dispatch(watched, kit::FdWatcher::Write); });
        }
    }

    if (m_loop.hasPostedWork()) {
        if (!m_posted.isActive())
            m_posted.start();
    }
    auto due = m_loop.nextDueTime();
    if (due && !m_loop.clock().isManual()) {
        double wait = std::max(0.0, *due - m_loop.now());
        int ms = int(std::min(std::ceil(wait * 1000), 3600.0 * 1000));
        if (!m_due.isActive() || m_due.remainingTime() != ms)
            m_due.start(ms);
    } else {
        m_due.stop();
    }
    m_syncing = false;
}

} // namespace qtshell
