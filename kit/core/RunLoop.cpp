#include "kit/core/RunLoop.h"

#include <ctime>

#include "kit/core/FdWatcher.h"
#include "kit/core/Log.h"
#include "kit/core/Timer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kit {

namespace {
// Without a descriptor to wake it, a waiting loop looks for foreign work this often.
constexpr double unwokenWait = 0.01;
} // namespace

void PollBackend::watchEnabled(uint64_t id, bool enabled)
{
    if (auto it = m_watches.find(id); it != m_watches.end())
        it->second.enabled = enabled;
}

void PollBackend::wait(double timeout)
{
    std::vector<pollfd> fds;
    std::vector<uint64_t> ids;
    for (auto& [id, w] : m_watches) {
        if (!w.enabled)
            continue;
        short ev = 0;
        if (w.events & 1)
            ev |= POLLIN;
        if (w.events & 2)
            ev |= POLLOUT;
        fds.push_back({ w.fd, ev, 0 });
        ids.push_back(id);
    }
    int ms = timeout <= 0 ? 0 : int(std::ceil(std::min(timeout, 3600.0) * 1000));
    int n = ::poll(fds.data(), fds.size(), ms);
    if (n <= 0 || !loop())
        return;
    for (size_t i = 0; i < fds.size(); ++i) {
        auto r = fds[i].revents;
        if (!r)
            continue;
        unsigned ev = 0;
        if (r & POLLIN)
            ev |= FdWatcher::Read;
        if (r & POLLOUT)
            ev |= FdWatcher::Write;
        if (r & (POLLERR | POLLHUP | POLLNVAL))
            ev |= FdWatcher::Error;
        loop()->watchReady(ids[i], ev);
    }
}

RunLoop& RunLoop::main()
{
    static RunLoop loop;
    return loop;
}

RunLoop::RunLoop(WakeChannel first)
    : m_clock(std::make_shared<RealClock>())
    , m_backend(std::make_unique<PollBackend>())
{
    m_backend->attach(*this);
    openWakeChannel(first);
}

RunLoop::~RunLoop()
{
    m_attachments.clear();
    m_wakeWatch.reset();
    reset();
    if (m_wakeRead >= 0)
        ::close(m_wakeRead);
    if (m_wakeWrite >= 0 && m_wakeWrite != m_wakeRead)
        ::close(m_wakeWrite);
}

void RunLoop::openWakeChannel(WakeChannel first)
{
    if (first == WakeChannel::EventFd)
        m_wakeRead = m_wakeWrite = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeRead < 0) {
        if (first == WakeChannel::EventFd)
            log(std::string("run loop: no eventfd (") + std::strerror(errno) + "); other threads wake it through a pipe");
        int p[2];
        if (first != WakeChannel::None && ::pipe2(p, O_CLOEXEC | O_NONBLOCK) == 0) {
            m_wakeRead = p[0];
            m_wakeWrite = p[1];
        } else {
            log(std::string("run loop: no wake-up descriptor") + (first == WakeChannel::None ? "" : std::string(" (") + std::strerror(errno) + ")")
                + "; work from other threads is picked up every " + std::to_string(int(unwokenWait * 1000)) + " ms");
            m_wakeRead = m_wakeWrite = -1;
            return;
        }
    }
    m_wakeWatch = std::make_unique<FdWatcher>(*this, m_wakeRead, FdWatcher::Read, [this](unsigned) {
        drainWakeChannel();
        takeForeign();
    });
}

void RunLoop::drainWakeChannel()
{
    char buffer[64];
    while (::read(m_wakeRead, buffer, sizeof buffer) > 0) { }
}

void RunLoop::setClock(std::shared_ptr<Clock> clock)
{
    const bool wasManual = m_clock->isManual();
    m_clock = std::move(clock);
    // The backend knows real-clock timers only; tell it what changed.
    for (auto& [id, due] : m_timerDue) {
        if (!wasManual)
            m_backend->timerRemoved(id);
        registerTimerWithBackend(id, due);
    }
}

ManualClock& RunLoop::useManualClock()
{
    auto clock = std::make_shared<ManualClock>();
    auto& ref = *clock;
    setClock(std::move(clock));
    return ref;
}

void RunLoop::setBackend(std::unique_ptr<RunLoopBackend> backend)
{
    if (!backend)
        backend = std::make_unique<PollBackend>();
    m_backend = std::move(backend);
    m_backend->attach(*this);
    for (auto& [id, w] : m_watches) {
        m_backend->watchAdded(id, w.fd, w.events);
        if (!w.enabled)
            m_backend->watchEnabled(id, false);
    }
    for (auto& [id, due] : m_timerDue)
        registerTimerWithBackend(id, due);
    if (hasPostedWork())
        m_backend->wake();
}

void RunLoop::reset()
{
    auto timers = std::move(m_timers);
    m_timers.clear();
    for (auto& [key, weak] : timers) {
        if (!m_clock->isManual())
            m_backend->timerRemoved(key.second);
        if (auto timer = weak.lock()) {
            timer->m_key = 0;
            timer->m_valid = false;
        }
    }
    m_timerDue.clear();
    // Dropping a job may drop an owner whose going posts work (an animation
    // that stops with its view): drop in rounds until nothing is left.
    while (!m_posted.empty()) {
        auto posted = std::move(m_posted);
        m_posted.clear();
        posted.clear();
    }
    {
        std::lock_guard lock(m_foreignMutex);
        m_foreign.clear();
        m_foreignPending = false;
    }
    m_stopped = false;
    m_waitsForOutside = false;
}

void RunLoop::post(std::function<void()> work)
{
    m_posted.push_back(std::move(work));
    m_backend->wake();
}

void RunLoop::postFromAnyThread(std::function<void()> work)
{
    {
        std::lock_guard lock(m_foreignMutex);
        m_foreign.push_back(std::move(work));
        m_foreignPending = true;
    }
    if (m_wakeWrite >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(m_wakeWrite, &one, m_wakeWrite == m_wakeRead ? sizeof one : 1);
    }
}

void RunLoop::takeForeign()
{
    if (!m_foreignPending.load())
        return;
    std::vector<std::function<void()>> work;
    {
        std::lock_guard lock(m_foreignMutex);
        work.swap(m_foreign);
        m_foreignPending = false;
    }
    for (auto& w : work)
        m_posted.push_back(std::move(w));
}

void RunLoop::runPosted()
{
    takeForeign();
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
        const uint64_t id = it->first.second;
        auto timer = it->second.lock(); // keeps it alive while it fires
        m_timers.erase(it);
        m_timerDue.erase(id);
        if (!m_clock->isManual())
            m_backend->timerRemoved(id);
        if (!timer)
            continue;
        timer->m_key = 0;
        timer->fireFromLoop();
    }
}

void RunLoop::registerTimerWithBackend(uint64_t id, double fireAt)
{
    if (!m_clock->isManual())
        m_backend->timerAdded(id, std::max(0.0, fireAt - now()));
}

uint64_t RunLoop::addTimer(const std::shared_ptr<Timer>& timer, double fireAt)
{
    uint64_t id = m_nextSeq++;
    m_timers.emplace(std::make_pair(fireAt, id), timer);
    m_timerDue.emplace(id, fireAt);
    registerTimerWithBackend(id, fireAt);
    return id;
}

void RunLoop::removeTimer(uint64_t id)
{
    auto due = m_timerDue.find(id);
    if (due == m_timerDue.end())
        return;
    m_timers.erase({ due->second, id });
    m_timerDue.erase(due);
    if (!m_clock->isManual())
        m_backend->timerRemoved(id);
}

void RunLoop::timerDue(uint64_t id)
{
    runPosted();
    fireDueTimers();
    // A host timer that fired a little early: look again when it is due.
    if (auto due = m_timerDue.find(id); due != m_timerDue.end() && !m_clock->isManual()) {
        m_backend->timerRemoved(id);
        registerTimerWithBackend(id, due->second);
    }
}

uint64_t RunLoop::addWatch(int fd, unsigned events, std::shared_ptr<std::function<void(unsigned)>> callback)
{
    uint64_t id = m_nextSeq++;
    m_watches.emplace(id, WatchEntry { fd, events, true, std::move(callback) });
    m_backend->watchAdded(id, fd, events);
    return id;
}

void RunLoop::setWatchEnabled(uint64_t id, bool enabled)
{
    auto it = m_watches.find(id);
    if (it != m_watches.end() && it->second.enabled != enabled) {
        it->second.enabled = enabled;
        m_backend->watchEnabled(id, enabled);
    }
}

void RunLoop::removeWatch(uint64_t id)
{
    if (m_watches.erase(id))
        m_backend->watchRemoved(id);
}

void RunLoop::watchReady(uint64_t id, unsigned revents)
{
    auto it = m_watches.find(id);
    if (it == m_watches.end() || !it->second.enabled)
        return;
    unsigned mine = revents & (it->second.events | FdWatcher::Error);
    if (revents & FdWatcher::Error)
        mine |= it->second.events; // a hang-up or error wakes readers and writers alike
    if (!mine)
        return;
    auto callback = it->second.callback; // alive even if the watcher goes away inside
    ++m_deliveries;
    (*callback)(mine);
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
    if (hasPostedWork())
        timeout = 0;
    if (m_wakeRead < 0)
        timeout = std::min(timeout, unwokenWait);
    if (!m_clock->isManual()) {
        if (auto due = nextDueTime())
            timeout = std::min(timeout, std::max(0.0, *due - now()));
    }
    m_backend->wait(timeout);
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

Token RunLoop::awaitOutside()
{
    ++m_awaited;
    return Token([this] { --m_awaited; });
}

void RunLoop::deliverReady()
{
    // Without awaited work only what is ready now counts; a child that writes
    // without pause gets a bounded number of rounds, so it cannot hold the clock.
    constexpr int readyRounds = 64;
    RealClock real;
    const double started = real.now();
    for (int round = 0;; ++round) {
        runPosted();
        const bool awaited = m_waitsForOutside && m_awaited > 0;
        const double spent = real.now() - started;
        double timeout = 0;
        if (awaited)
            timeout = std::clamp(settleLimit - spent, 0.0, settleQuiet);
        const uint64_t before = m_deliveries;
        m_backend->wait(hasPostedWork() ? 0 : timeout);
        runPosted();
        const bool delivered = m_deliveries != before;
        if (!delivered && !hasPostedWork())
            break;
        if (real.now() - started >= settleLimit || (!awaited && round >= readyRounds))
            break;
    }
}

void RunLoop::advance(double seconds)
{
    auto* manual = dynamic_cast<ManualClock*>(m_clock.get());
    if (!manual) {
        log("run loop: advance() needs a manual clock; on the real clock only what is due now runs");
        runDue();
        return;
    }
    const double target = manual->now() + seconds;
    for (;;) {
        deliverReady();
        auto due = nextDueTime();
        if (!due || *due > target)
            break;
        manual->set(std::max(manual->now(), *due));
        fireDueTimers();
    }
    manual->set(target);
    runDue();
}

void RunLoop::sleepBriefly(double seconds)
{
    const double bounded = std::clamp(seconds, 0.0, 1.0);
    timespec wait { 0, long(bounded * 1e9) };
    if (bounded >= 1.0)
        wait = { 1, 0 };
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) { }
}

} // namespace kit
