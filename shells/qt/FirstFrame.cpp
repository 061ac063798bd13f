#include "shells/qt/FirstFrame.h"

#include <QCoreApplication>
#include <QTimer>

#include <vector>

namespace qtshell {

namespace {
bool g_pending = false;
std::vector<std::function<void()>>& waiting()
{
    static std::vector<std::function<void()>> w;
    return w;
}
} // namespace

bool isFirstFramePending() { return g_pending; }

void afterFirstFrame(std::function<void()> work)
{
    if (!g_pending) {
        work();
        return;
    }
    waiting().push_back(std::move(work));
}

void setFirstFramePending(bool pending)
{
    if (g_pending == pending)
        return;
    g_pending = pending;
    if (pending || waiting().empty())
        return;
    // After the frame is on screen, not inside its paint.
    QTimer::singleShot(0, QCoreApplication::instance(), [] {
        auto work = std::move(waiting());
        waiting().clear();
        for (auto& w : work)
            w();
    });
}

} // namespace qtshell
