#pragma once
// A one-shot or repeating timer on the main run loop. The loop holds a
// scheduled timer until it is invalidated (a one-shot timer: until it has
// fired), so an owner may keep a reference or not. invalidate() guarantees
// that the callback is not called again.
#include <functional>
#include <memory>

namespace kit {

class RunLoop;

class Timer : public std::enable_shared_from_this<Timer> {
public:
    using Callback = std::function<void(Timer&)>;

    static std::shared_ptr<Timer> scheduled(double interval, bool repeats, Callback callback);
    static std::shared_ptr<Timer> scheduled(RunLoop& loop, double interval, bool repeats, Callback callback);
    ~Timer();

    void invalidate();
    bool isValid() const { return m_valid; }
    bool repeats() const { return m_repeats; }
    double interval() const { return m_interval; }
    double fireDate() const { return m_fireAt; }
    // Fires now, out of schedule; a one-shot timer is then invalid.
    void fire();

private:
    friend class RunLoop;
    struct Private { };

public:
    Timer(Private, RunLoop& loop, double interval, bool repeats, Callback callback);

private:
    void fireFromLoop();

    RunLoop& m_loop;
    double m_interval;
    bool m_repeats;
    bool m_valid { true };
    double m_fireAt { 0 };
    uint64_t m_key { 0 };
    Callback m_callback;
};

} // namespace kit
