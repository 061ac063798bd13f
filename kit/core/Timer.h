#pragma once
// A one-shot or repeating timer on a run loop. The timer belongs to whoever
// holds it: the loop keeps only a weak link, so when the last holder lets go
// (an owner's member dies with its owner) the timer is cancelled and its
// callback, with whatever it captured, can no longer run. invalidate()
// guarantees that the callback is not called again.
#include <functional>
#include <memory>

namespace kit {

class RunLoop;

class Timer : public std::enable_shared_from_this<Timer> {
public:
    using Callback = std::function<void(Timer&)>;

    [[nodiscard]] static std::shared_ptr<Timer> scheduled(double interval, bool repeats, Callback callback);
    [[nodiscard]] static std::shared_ptr<Timer> scheduled(RunLoop& loop, double interval, bool repeats, Callback callback);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void invalidate();
    bool isValid() const { return m_valid; }
    bool repeats() const { return m_repeats; }
    double interval() const { return m_interval; }
    double fireDate() const { return m_fireAt; }
    // Fires now, out of schedule; a one-shot timer is then invalid.
    void fire();

private:
    friend class RunLoop;
    // Only scheduled() can name the tag (explicit: `{}` does not make one).
    struct Private {
        explicit Private() = default;
    };

public:
    Timer(Private, RunLoop& loop, double interval, bool repeats, Callback callback);

private:
    void fireFromLoop();

    RunLoop* m_loop;
    double m_interval;
    bool m_repeats;
    bool m_valid { true };
    double m_fireAt { 0 };
    uint64_t m_key { 0 };
    Callback m_callback;
};

} // namespace kit
