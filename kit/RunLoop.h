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
// Event-driven hosts (the Qt shell) do not call run(): they install onChange,
// read nextDueTime() and watches(), and call dispatchFd()/runDue() from their
// own timers and socket notifiers.
#include "kit/Clock.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace kit {

class Timer;
class FdWatcher;

class RunLoop {
public:
    static RunLoop& main();

    RunLoop();
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // Install once in main (or a test fixture) before registering work.
    void setClock(std::shared_ptr<Clock> clock);
    // Convenience for tests: installs a new manual clock at time 0 and returns it.
    ManualClock& useManualClock();
    Clock& clock() const { return *m_clock; }
    double now() const { return m_clock->now(); }

    void post(std::function<void()> work);
    void postFromAnyThread(std::function<void()> work);

    // One turn: posted work, due timers, then a wait of at most maxWait real
    // seconds for descriptors (shorter when a real-clock timer falls due).
    void runOnce(double maxWait);
    void run();
    void stop() { m_stopped = true; }
    // Turns the loop until done() holds or realTimeout real seconds pass.
    bool runUntil(const std::function<bool()>& done, double realTimeout);
    // Manual clock only: fires, in time order, everything due within seconds,
    // also handling descriptors that are ready on the way.
    void advance(double seconds);

    // For event-driven hosts.
    struct Watch {
        int fd;
        unsigned events;
    };
    std::optional<double> nextDueTime() const;
    std::vector<Watch> watches() const;
    void dispatchFd(int fd, unsigned revents);
    void runDue();
    bool hasPostedWork() const { return !m_posted.empty(); }
    std::function<void()> onChange;

    // Drops every timer, watch and posted job (tests reset the shared loop).
    void reset();

private:
    friend class Timer;
    friend class FdWatcher;

    uint64_t addTimer(std::shared_ptr<Timer> timer, double fireAt);
    void removeTimer(uint64_t key);
    uint64_t addWatch(int fd, unsigned events, std::shared_ptr<std::function<void(unsigned)>> callback);
    void setWatchEnabled(uint64_t id, bool enabled);
    void removeWatch(uint64_t id);

    void runPosted();
    void fireDueTimers();
    void pollFds(double timeout);
    void changed();

    struct WatchEntry {
        int fd;
        unsigned events;
        bool enabled;
        std::shared_ptr<std::function<void(unsigned)>> callback;
    };

    std::shared_ptr<Clock> m_clock;
    std::deque<std::function<void()>> m_posted;
    std::map<std::pair<double, uint64_t>, std::shared_ptr<Timer>> m_timers;
    std::map<uint64_t, WatchEntry> m_watches;
    uint64_t m_nextSeq { 1 };
    bool m_stopped { false };

    int m_wakeFd { -1 };
    std::unique_ptr<FdWatcher> m_wakeWatch;
    std::mutex m_foreignMutex;
    std::vector<std::function<void()>> m_foreign;
};

} // namespace kit
