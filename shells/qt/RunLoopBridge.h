#pragma once
// kit's main run loop on Qt's event loop: a single-shot Qt timer for kit's
// next due time, a socket notifier for every watched descriptor, and a
// zero-time turn for posted work. kit keeps its own clock: the Qt timer only
// says when to look. With a manual clock (tests), timers wait for advance().
#include "kit/RunLoop.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <map>

namespace qtshell {

class RunLoopBridge : public QObject {
public:
    explicit RunLoopBridge(kit::RunLoop& loop = kit::RunLoop::main());
    ~RunLoopBridge() override;

    // Brings notifiers and timers in line with the loop's registrations.
    void sync();
    size_t notifierCount() const;

private:
    void turn();
    void dispatch(int fd, unsigned events);

    struct Notifiers {
        QSocketNotifier* read { nullptr };
        QSocketNotifier* write { nullptr };
    };

    kit::RunLoop& m_loop;
    QTimer m_due;
    QTimer m_posted;
    std::map<int, Notifiers> m_notifiers;
    bool m_syncing { false };
};

} // namespace qtshell
