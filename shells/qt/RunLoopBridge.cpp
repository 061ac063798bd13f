#include "shells/qt/RunLoopBridge.h"

#include "kit/core/FdWatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>

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

RunLoopBridge::RunLoopBridge()
{
    m_posted.setSingleShot(true);
    m_posted.setInterval(0);
    connect(&m_posted, &QTimer::timeout, this, [this] { turn(); });
}

RunLoopBridge::~RunLoopBridge()
{
    for (auto& [qt, kit] : m_qtTimers)
        killTimer(qt);
    for (auto& [id, n] : m_notifiers) {
        delete n.read;
        delete n.write;
    }
}

RunLoopBridge& RunLoopBridge::install(kit::RunLoop& loop)
{
    auto bridge = std::make_unique<RunLoopBridge>();
    auto& ref = *bridge;
    loop.setBackend(std::move(bridge));
    return ref;
}

size_t RunLoopBridge::notifierCount() const
{
    size_t count = 0;
    for (auto& [id, n] : m_notifiers)
        count += (n.read ? 1 : 0) + (n.write ? 1 : 0);
    return count;
}

void RunLoopBridge::timerAdded(uint64_t id, double delay)
{
    timerRemoved(id);
    int ms = int(std::min(std::ceil(std::max(0.0, delay) * 1000), 3600.0 * 1000));
    int qt = startTimer(ms, Qt::PreciseTimer);
    if (qt == 0)
        return;
    m_qtTimers[qt] = id;
    m_kitTimers[id] = qt;
}

void RunLoopBridge::timerRemoved(uint64_t id)
{
    auto it = m_kitTimers.find(id);
    if (it == m_kitTimers.end())
        return;
    killTimer(it->second);
    m_qtTimers.erase(it->second);
    m_kitTimers.erase(it);
}

void RunLoopBridge::timerEvent(QTimerEvent* event)
{
    auto it = m_qtTimers.find(event->timerId());
    if (it == m_qtTimers.end())
        return;
    const uint64_t id = it->second;
    timerRemoved(id);
    if (loop())
        loop()->timerDue(id);
    afterDispatch();
}

void RunLoopBridge::watchAdded(uint64_t id, int fd, unsigned events)
{
    watchRemoved(id);
    auto& n = m_notifiers[id];
    if (events & kit::FdWatcher::Read) {
        n.read = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(n.read, &QSocketNotifier::activated, this, [this, id] {
            if (loop())
                loop()->watchReady(id, kit::FdWatcher::Read);
            afterDispatch();
        });
    }
    if (events & kit::FdWatcher::Write) {
        n.write = new QSocketNotifier(fd, QSocketNotifier::Write, this);
        connect(n.write, &QSocketNotifier::activated, this, [this, id] {
            if (loop())
                loop()->watchReady(id, kit::FdWatcher::Write);
            afterDispatch();
        });
    }
}

void RunLoopBridge::watchEnabled(uint64_t id, bool enabled)
{
    auto it = m_notifiers.find(id);
    if (it == m_notifiers.end())
        return;
    if (it->second.read)
        it->second.read->setEnabled(enabled);
    if (it->second.write)
        it->second.write->setEnabled(enabled);
}

void RunLoopBridge::watchRemoved(uint64_t id)
{
    auto it = m_notifiers.find(id);
    if (it == m_notifiers.end())
        return;
    retire(it->second.read);
    retire(it->second.write);
    m_notifiers.erase(it);
}

void RunLoopBridge::wake()
{
    if (!m_posted.isActive())
        m_posted.start();
}

void RunLoopBridge::turn()
{
    if (loop())
        loop()->runDue();
    afterDispatch();
}

void RunLoopBridge::afterDispatch()
{
    // A read may have queued work (a pipe's completion notification, work
    // from another thread).
    if (loop() && loop()->hasPostedWork())
        wake();
}

void RunLoopBridge::wait(double timeout)
{
    if (timeout <= 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    // Qt's loop waits for its own events; a timer bounds the wait.
    QTimer limit;
    limit.setSingleShot(true);
    limit.start(int(std::ceil(std::min(timeout, 3600.0) * 1000)));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace qtshell
