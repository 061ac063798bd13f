#pragma once
// kit's run loop on Qt's event loop: the backend the window's platform gives
// the loop. Each kit registration gets its own Qt object, made, changed or
// dropped when kit says so and never rebuilt: a Qt timer per real-clock kit
// timer, a socket notifier per descriptor watch, and a zero-time turn for
// posted work. kit keeps its own clock: a Qt timer only says when to look.
// With a manual clock (tests) kit gives no timers; they wait for advance().
// The loop owns its backend; the bridge reaches kit only through the loop.
#include "kit/core/RunLoop.h"
#include "kit/core/RunLoopBackend.h"

#include <QObject>
#include <QTimer>

#include <map>
#include <unordered_map>

class QSocketNotifier;

namespace qtshell {

class RunLoopBridge : public QObject, public kit::RunLoopBackend {
public:
    RunLoopBridge();
    ~RunLoopBridge() override;

    // Makes a bridge and puts the loop on it; the loop owns it.
    static RunLoopBridge& install(kit::RunLoop& loop = kit::RunLoop::main());

    size_t notifierCount() const;
    size_t timerCount() const { return m_kitTimers.size(); }

    void timerAdded(uint64_t id, double delay) override;
    void timerRemoved(uint64_t id) override;
    void watchAdded(uint64_t id, int fd, unsigned events) override;
    void watchEnabled(uint64_t id, bool enabled) override;
    void watchRemoved(uint64_t id) override;
    void wake() override;
    void wait(double timeout) override;

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void turn();
    void afterDispatch();

    struct Notifiers {
        QSocketNotifier* read { nullptr };
        QSocketNotifier* write { nullptr };
    };

    std::unordered_map<int, uint64_t> m_qtTimers;  // Qt's timer id -> kit's
    std::unordered_map<uint64_t, int> m_kitTimers; // kit's timer id -> Qt's
    std::map<uint64_t, Notifiers> m_notifiers;
    QTimer m_posted;
};

} // namespace qtshell
