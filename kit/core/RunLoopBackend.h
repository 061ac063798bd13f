#pragma once
// What drives the main run loop: the host's event machinery. The loop keeps
// its own timers (in its clock's time), posted work and watches; it tells its
// backend of each registration as it is made, changed or cancelled, one at a
// time, and the backend tells the loop when a descriptor is ready or a timer's
// time has come. Main thread only.
//
// - PollBackend (kit): poll(2) inside wait(); the headless shell and tests.
// - The window shell's backend: one Qt timer or socket notifier per
//   registration; it never blocks in wait() longer than Qt's own events take.
//
// Timers reach the backend only on a real clock (a delay in real seconds); on
// a manual clock they wait for RunLoop::advance().
#include <cstdint>
#include <map>

namespace kit {

class RunLoop;

class RunLoopBackend {
public:
    virtual ~RunLoopBackend() = default;

    // The loop this backend reports to; set once by RunLoop::setBackend, before
    // any registration is handed over.
    void attach(RunLoop& loop) { m_loop = &loop; }

    virtual void timerAdded(uint64_t id, double delay) = 0;
    virtual void timerRemoved(uint64_t id) = 0;
    virtual void watchAdded(uint64_t id, int fd, unsigned events) = 0;
    virtual void watchEnabled(uint64_t id, bool enabled) = 0;
    virtual void watchRemoved(uint64_t id) = 0;
    // Work is waiting: turn the loop soon (a backend that only turns inside
    // wait() ignores this; the loop does not wait while work is waiting).
    virtual void wake() = 0;
    // Waits at most `timeout` real seconds for a ready descriptor (0: only
    // looks) and reports what is ready through RunLoop::watchReady.
    virtual void wait(double timeout) = 0;

protected:
    RunLoop* loop() const { return m_loop; }

private:
    RunLoop* m_loop { nullptr };
};

class PollBackend final : public RunLoopBackend {
public:
    void timerAdded(uint64_t, double) override { }
    void timerRemoved(uint64_t) override { }
    void watchAdded(uint64_t id, int fd, unsigned events) override { m_watches[id] = { fd, events, true }; }
    void watchEnabled(uint64_t id, bool enabled) override;
    void watchRemoved(uint64_t id) override { m_watches.erase(id); }
    void wake() override { }
    void wait(double timeout) override;

private:
    struct Watch {
        int fd;
        unsigned events;
        bool enabled;
    };
    std::map<uint64_t, Watch> m_watches;
};

} // namespace kit
