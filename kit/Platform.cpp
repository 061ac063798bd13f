#include "kit/Platform.h"

#include "kit/LocationSource.h"
#include "kit/MoviePlayer.h"
#include "kit/RunLoop.h"
#include "kit/View.h"

#include <algorithm>

namespace kit {

namespace {
std::shared_ptr<Platform>& installed()
{
    static std::shared_ptr<Platform> platform;
    return platform;
}

Platform& kitsOwn()
{
    static Platform platform;
    return platform;
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
void Platform::terminate(Application&) { }
bool Platform::showNotification(const std::string&, const std::string&) { return false; }

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

void Platform::addViewObserver(ViewObserver* observer)
{
    if (observer && std::find(m_viewObservers.begin(), m_viewObservers.end(), observer) == m_viewObservers.end())
        m_viewObservers.push_back(observer);
}

void Platform::removeViewObserver(ViewObserver* observer)
{
    std::erase(m_viewObservers, observer);
}

} // namespace kit
