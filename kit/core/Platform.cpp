#include "kit/core/Platform.h"

#include "kit/core/LocationSource.h"
#include "kit/core/NotificationCenter.h"
#include "kit/core/RunLoop.h"

#include <algorithm>

namespace kit {

namespace {
// Neither is ever destroyed: views and timers that other statics hold may
// still ask for the platform while the process ends.
std::shared_ptr<Platform>& installed()
{
    static auto* platform = new std::shared_ptr<Platform>;
    return *platform;
}

Platform& kitsOwn()
{
    static auto* platform = new Platform;
    return *platform;
}
} // namespace

Platform::Platform() = default;
Platform::~Platform() = default;

Platform& Platform::current()
{
    auto& p = installed();
    return p ? *p : kitsOwn();
}

void Platform::install(std::shared_ptr<Platform> platform)
{
    // The old platform goes after the loop has left its backend.
    auto old = std::move(installed());
    installed() = std::move(platform);
    RunLoop::main().setBackend(current().makeRunLoopBackend());
}

int Platform::run(Application&) { return 0; }
bool Platform::openURL(const std::string&) { return false; }

void Platform::afterFirstFrame(std::function<void()> work) { work(); }
void Platform::terminate(Application&) { }
bool Platform::showNotification(const std::string&, const std::string&, const std::vector<NotificationAction>&) { return false; }

void Platform::setWindowShown(bool shown)
{
    if (m_windowShown == shown)
        return;
    m_windowShown = shown;
    NotificationCenter::defaultCenter().postNotification(WindowShownChangedNotification, this);
}

std::unique_ptr<RunLoopBackend> Platform::makeRunLoopBackend()
{
    return std::make_unique<PollBackend>();
}

LocationSource& Platform::locationSource()
{
    if (!m_locationSource)
        m_locationSource = LocationSource::fromEnvironment();
    return *m_locationSource;
}

Token Platform::addViewObserver(ViewObserver* observer)
{
    auto& list = *m_viewObservers;
    if (!observer || std::find(list.begin(), list.end(), observer) != list.end())
        return {};
    list.push_back(observer);
    return Token([weakList = std::weak_ptr(m_viewObservers), observer] {
        if (auto list = weakList.lock())
            std::erase(*list, observer);
    });
}

} // namespace kit
