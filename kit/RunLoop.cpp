#include "kit/RunLoop.h"

#include "kit/FdWatcher.h"
#include "kit/Timer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kit {

RunLoop& RunLoop::main()
{
    static RunLoop loop;
    return loop;
}

RunLoop::RunLoop()
    : m_clock(std::make_shared<RealClock>())
{
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd >= 0) {
        m_wakeWatch = std::make_unique<FdWatcher>(*this, m_wakeFd, FdWatcher::Read, [this](unsigned) {
            uint64_t value;
            while (::read(m_wakeFd, &value, sizeof value) > 0) { }
            std::vector<std::function<void()>> work;
            {
                std::lock_guard lock(m_foreignMutex);
                work.swap(m_foreign);
            }
            for (auto& w : work)
                m_posted.push_back(std::move(w));
        });
    }
}

RunLoop::~RunLoop()
{
    m_wakeWatch.reset();
    m_timers.clear();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void RunLoop::setClock(std::shared_ptr<Clock> clock)
{
    m_clock = std::move(clock);
    changed();
}

ManualClock& RunLoop::useManualClock()
{
    auto clock = std::make_shared<ManualClock>();
    auto& ref = *clock;
    setClock(std::move(clock));
    return ref;
}

void RunLoop::reset()
{
    auto timers = std::move(m_timers);
    m_timers.clear();
    for (auto& [key, timer] : timers)
        timer->m_valid = false;
    m_posted.clear();
    for (auto it = m_watches.begin(); it != m_watches.end();) {
        if (m_wakeWatch && it->second.fd == m_wakeFd)
            ++it;
        else
            it = m_watches.erase(it);
    }
    m_stopped = false;
    changed();
}

void RunLoop::changed()
{
    if (onChange)
        onChange();
}

void RunLoop::post(std::function<void()> work)
{
    m_posted.push_back(std::move(work));
    changed();
}

void RunLoop::postFromAnyThread(std::function<void()> work)
{
    {
        std::lock_guard lock(m_foreignMutex);
        m_foreign.push_back(std::move(work));
    }
    uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(m_wakeFd, &one, sizeof one);
}

void RunLoop::runPosted()
{
    // Only the work posted before this turn; work posted now waits for the next.
    auto batch = std::move(m_posted);
    m_posted.clear();
    for (auto& work : batch)
        work();
}

std::optional<double> RunLoop::nextDueTime() const
{
    if (m_timers.empty())
        return std::nullopt;
    return m_timers.begin()->first.first;
}

void RunLoop::fireDueTimers()
{
    const double now = m_clock->now();
    const uint64_t limit = m_nextSeq;
    while (!m_timers.empty()) {
        auto it = m_timers.begin();
        if (it->first.first > now || it->first.second >= limit)
            break;
        auto timer = it->second; // keeps it alive while it fires
        m_timers.erase(it);
        timer->m_key = 0;
        timer->fireFromLoop();
    }
}

uint64_t RunLoop::addTimer(std::shared_ptr<Timer> timer, double fireAt)
{
    uint64_t seq = m_nextSeq++;
    m_timers.emplace(std::make_pair(fireAt, seq), std::move(timer));
    changed();
    return seq;
}

void RunLoop::removeTimer(uint64_t key)
{
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
        if (it->first.second == key) {
            auto keep = std::move(it->second); // the timer may die here; erase first
            m_timers.erase(it);
            changed();
            return;
        }
    }
}

uint64_t RunLoop::addWatch(int fd, unsigned events, std::shared_ptr<std::function<void(unsigned)>> callback)
{
    uint64_t id = m_nextSeq++;
    m_watches.emplace(id, WatchEntry { fd, events, true, std::move(callback) });
    changed();
    return id;
}

void RunLoop::setWatchEnabled(uint64_t id, bool enabled)
{
    auto it = m_watches.find(id);
    if (it != m_watches.end() && it->second.enabled != enabled) {
        it->second.enabled = enabled;
        changed();
    }
}

void RunLoop::removeWatch(uint64_t id)
{
    if (m_watches.erase(id))
        changed();
}

std::vector<RunLoop::Watch> RunLoop::watches() const
{
    std::vector<Watch> out;
    for (auto& [id, w] : m_watches) {
        if (!w.enabled)
            continue;
        auto found = std::find_if(out.begin(), out.end(), [&](const Watch& o) { return o.fd == w.fd; });
        if (found != out.end())
            found->events |= w.events;
        else
            out.push_back({ w.fd, w.events });
    }
    return out;
}

void RunLoop::dispatchFd(int fd, unsigned revents)
{
    std::vector<uint64_t> ids;
    for (auto& [id, w] : m_watches)
        if (w.enabled && w.fd == fd)
            ids.push_back(id);
    for (auto id : ids) {
        auto it = m_watches.find(id);
        if (it == m_watches.end() || !it->second.enabled)
            continue;
        unsigned mine = revents & (it->second.events | FdWatcher::Error);
        if (revents & FdWatcher::Error)
            mine |= it->second.events; // a hang-up or error wakes readers and writers alike
        if (!mine)
            continue;
        auto callback = it->second.callback; // alive even if the watcher goes away inside
        (*callback)(mine);
    }
}

void RunLoop::pollFds(double timeout)
{
    std::vector<pollfd> fds;
    for (auto& w : watches()) {
        short ev = 0;
        if (w.events & FdWatcher::Read)
            ev |= POLLIN;
        if (w.events & FdWatcher::Write)
            ev |= POLLOUT;
        fds.push_back({ w.fd, ev, 0 });
    }
    int ms = timeout <= 0 ? 0 : int(std::ceil(std::min(timeout, 3600.0) * 1000));
    int n = ::poll(fds.data(), fds.size(), ms);
    if (n <= 0)
        return;
    for (auto& p : fds) {
        if (!p.revents)
            continue;
        unsigned ev = 0;
        if (p.revents & POLLIN)
            ev |= FdWatcher::Read;
        if (p.revents & POLLOUT)
            ev |= FdWatcher::Write;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            ev |= FdWatcher::Error;
        dispatchFd(p.fd, ev);
    }
}

void RunLoop::runDue()
{
    runPosted();
    fireDueTimers();
}

void RunLoop::runOnce(double maxWait)
{
    runDue();
    double timeout = maxWait;
    if (!m_posted.empty())
        timeout = 0;
    if (!m_clock->isManual()) {
        if (auto due = nextDueTime())
            timeout = std::min(timeout, std::max(0.0, *due - now()));
    }
    pollFds(timeout);
    runDue();
}

void RunLoop::run()
{
    m_stopped = false;
    while (!m_stopped)
        runOnce(3600);
}

bool RunLoop::runUntil(const std::function<bool()>& done, double realTimeout)
{
    RealClock real;
    const double deadline = real.now() + realTimeout;
    while (!done()) {
        double left = deadline - real.now();
        if (left <= 0)
            return false;
        runOnce(std::min(left, 0.05));
    }
    return true;
}

void RunLoop::advance(double seconds)
{
    auto* manual = dynamic_cast<ManualClock*>(m_clock.get());
    if (!manual) {
        runUntil([] { return false; }, seconds);
        return;
    }
    const double target = manual->now() + seconds;
    for (;;) {
        runPosted();
        pollFds(0);
        runPosted();
        auto due = nextDueTime();
        if (!due || *due > target)
            break;
        manual->set(std::max(manual->now(), *due));
        fireDueTimers();
    }
    manual->set(target);
    runDue();
}

} // namespace kit
