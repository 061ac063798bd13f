#pragma once
// The main run loop. One thread: everything registered here (posted work,
// timers, file-descriptor watches) runs on the thread that drives the loop,
// in order. postFromAnyThread() is the only entry that other threads may use.
//
// The loop reads a Clock. With a real clock, run()/runOnce() wait for the next
// timer or descriptor. With a manual clock, timers fire only when advance()
// moves the clock; descriptors are still watched in real time, so a test can
// wait for a child's output with runUntil() and then advance() to fire ticks.
//
// The waiting itself is the backend's (RunLoopBackend.h): kit's poll backend
// by default, the window shell's Qt backend there. Event-driven hosts do not
// call run(): their backend calls runDue(), timerDue() and watchReady().
//
// Registrations belong to their owners: a Timer or FdWatcher unregisters
// when it is destroyed, so nothing the loop calls can reach a dead owner.
#include "kit/core/Clock.h"
#include "kit/core/RunLoopBackend.h"
#include "kit/core/Token.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <typeindex>
#include <typeinfo>
#include <vector>

namespace kit {

class Timer;
class FdWatcher;

class RunLoop {
public:
    static RunLoop& main();
    // Blocks the calling thread for a moment (at most a second), outside
    // the loop: only for a wait that must finish before the loop goes on.
    static void sleepBriefly(double seconds);

    // How other threads wake the loop: an eventfd; where that fails a pipe;
    // where that fails too, nothing (the loop then looks every 10 ms). Each
    // fallback is logged. A loop may start further down (tests of the fallbacks).
    enum class WakeChannel { EventFd, Pipe, None };

    RunLoop() : RunLoop(WakeChannel::EventFd) { }
    explicit RunLoop(WakeChannel first);
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // Install once in main (or a test fixture) before registering work.
    void setClock(std::shared_ptr<Clock> clock);
    // Convenience for tests: installs a new manual clock at time 0 and returns it.
    ManualClock& useManualClock();
    Clock& clock() const { return *m_clock; }
    double now() const { return m_clock->now(); }

    // Hands every registration to the new backend (null: kit's poll backend).
    void setBackend(std::unique_ptr<RunLoopBackend> backend);
    RunLoopBackend& backend() const { return *m_backend; }

    void post(std::function<void()> work);
    void postFromAnyThread(std::function<void()> work);

    // One turn: posted work, due timers, then a wait of at most maxWait real
    // seconds for descriptors (shorter when a real-clock timer falls due).
    void runOnce(double maxWait);
    void run();
    void stop() { m_stopped = true; }
    // Turns the loop until done() holds or realTimeout real seconds pass.
    bool runUntil(const std::function<bool()>& done, double realTimeout);
    // Manual clock: fires, in time order, everything due within seconds. Before
    // each step of the clock it delivers what the descriptors have ready, and,
    // where the loop waits for outside work (setWaitsForOutsideWork) and some
    // is awaited (awaitOutside), it first gives the descriptors a short real
    // wait, so that an answer a loopback server is about to send arrives
    // before the clock moves past it. On a real clock time cannot be skipped:
    // it logs so, runs only what is due, and waits for nothing.
    void advance(double seconds);

    // Work that answers through descriptors in real time (an HTTP transfer):
    // while a token lives, advance() waits up to settleQuiet real seconds of
    // silence (at most settleLimit in all) before each step of the clock.
    // The token must not outlive the loop.
    [[nodiscard]] Token awaitOutside();
    size_t awaitedCount() const { return m_awaited; }
    // Off by default (tests wait for real I/O themselves, with runUntil); the
    // headless shell turns it on under virtual time. reset() turns it off.
    void setWaitsForOutsideWork(bool waits) { m_waitsForOutside = waits; }
    bool waitsForOutsideWork() const { return m_waitsForOutside; }
    static constexpr double settleQuiet = 0.5;
    static constexpr double settleLimit = 5;

    std::optional<double> nextDueTime() const;
    size_t timerCount() const { return m_timers.size(); }
    size_t watchCount() const { return m_watches.size(); }
    bool hasPostedWork() const { return !m_posted.empty() || m_foreignPending.load(); }

    // For backends: run posted work and due timers; a timer's time has come;
    // a watched descriptor is ready.
    void runDue();
    void timerDue(uint64_t id);
    void watchReady(uint64_t id, unsigned events);

    // Drops every timer and posted job (tests reset the shared loop). Watches
    // stay: each belongs to a live FdWatcher.
    void reset();

    // State a higher layer keeps per loop (the HTTP engine): made on first
    // use from the loop's own thread, owned by the loop, and destroyed first
    // when the loop goes, while its timers and watches still work.
    class Attachment {
    public:
        virtual ~Attachment() = default;
    };
    template<typename T>
    T& attachment()
    {
        auto& slot = m_attachments[std::type_index(typeid(T))];
        if (!slot)
            slot = std::make_unique<T>(*this);
        return static_cast<T&>(*slot);
    }

private:
    friend class Timer;
    friend class FdWatcher;

    uint64_t addTimer(const std::shared_ptr<Timer>& timer, double fireAt);
    void removeTimer(uint64_t id);
    uint64_t addWatch(int fd, unsigned events, std::shared_ptr<std::function<void(unsigned)>> callback);
    void setWatchEnabled(uint64_t id, bool enabled);
    void removeWatch(uint64_t id);

    void runPosted();
    // advance()'s delivery before a step of the clock.
    void deliverReady();
    void takeForeign();
    void fireDueTimers();
    void openWakeChannel(WakeChannel first);
    void drainWakeChannel();
    void registerTimerWithBackend(uint64_t id, double fireAt);

    struct WatchEntry {
        int fd;
        unsigned events;
        bool enabled;
        std::shared_ptr<std::function<void(unsigned)>> callback;
    };

    std::shared_ptr<Clock> m_clock;
    std::unique_ptr<RunLoopBackend> m_backend;
    std::deque<std::function<void()>> m_posted;
    // Timers in firing order, and each timer's due time by id.
    std::map<std::pair<double, uint64_t>, std::weak_ptr<Timer>> m_timers;
    std::map<uint64_t, double> m_timerDue;
    std::map<uint64_t, WatchEntry> m_watches;
    uint64_t m_nextSeq { 1 };
    bool m_stopped { false };
    size_t m_awaited { 0 };
    bool m_waitsForOutside { false };
    // Descriptor callbacks run so far, so that a wait can tell whether it delivered.
    uint64_t m_deliveries { 0 };

    // Waking from other threads: an eventfd, or a pipe where eventfd is
    // missing; with neither, foreign work is picked up on the next turn.
    int m_wakeRead { -1 };
    int m_wakeWrite { -1 };
    std::unique_ptr<FdWatcher> m_wakeWatch;
    std::mutex m_foreignMutex;
    std::vector<std::function<void()>> m_foreign;
    std::atomic<bool> m_foreignPending { false };

    std::map<std::type_index, std::unique_ptr<Attachment>> m_attachments;
};

} // namespace kit
