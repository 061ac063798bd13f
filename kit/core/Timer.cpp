#include "kit/core/Timer.h"

#include "kit/core/RunLoop.h"

#include <algorithm>

namespace kit {

namespace {
// Like the platform's timers: a shorter interval is taken as this one, so a
// repeating timer can never spin the loop.
constexpr double minimumInterval = 0.0001;
}

Timer::Timer(Private, RunLoop& loop, double interval, bool repeats, Callback callback)
    : m_loop(&loop)
    , m_interval(std::max(interval, repeats ? minimumInterval : 0.0))
    , m_repeats(repeats)
    , m_callback(std::move(callback))
{
}

Timer::~Timer()
{
    if (m_key)
        m_loop->removeTimer(m_key);
}

std::shared_ptr<Timer> Timer::scheduled(double interval, bool repeats, Callback callback)
{
    return scheduled(RunLoop::main(), interval, repeats, std::move(callback));
}

std::shared_ptr<Timer> Timer::scheduled(RunLoop& loop, double interval, bool repeats, Callback callback)
{
    auto timer = std::make_shared<Timer>(Private {}, loop, interval, repeats, std::move(callback));
    timer->m_fireAt = loop.now() + timer->m_interval;
    timer->m_key = loop.addTimer(timer, timer->m_fireAt);
    return timer;
}

void Timer::invalidate()
{
    if (!m_valid)
        return;
    m_valid = false;
    if (m_key) {
        auto key = m_key;
        m_key = 0;
        m_loop->removeTimer(key);
    }
    // Drop captured state now: a callback may hold its owner.
    m_callback = nullptr;
}

void Timer::fireFromLoop()
{
    if (!m_valid)
        return;
    auto keep = shared_from_this();
    if (m_repeats) {
        double next = m_fireAt + m_interval;
        double now = m_loop->now();
        if (next <= now) // missed beats on a real clock are skipped, not bunched
            next = now + m_interval;
        m_fireAt = next;
        m_key = m_loop->addTimer(keep, next);
    } else {
        m_valid = false;
    }
    auto callback = m_callback; // survives an invalidate() inside the call
    if (callback)
        callback(*this);
    if (!m_valid)
        m_callback = nullptr;
}

void Timer::fire()
{
    if (!m_valid)
        return;
    auto keep = shared_from_this();
    auto callback = m_callback;
    if (!m_repeats)
        invalidate();
    if (callback)
        callback(*this);
}

} // namespace kit
