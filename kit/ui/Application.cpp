#include "kit/ui/Application.h"

#include "kit/core/ChildProcess.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/UserDefaults.h"

#include <algorithm>
#include <cstdlib>

namespace kit {

namespace {
Application* g_shared = nullptr;
} // namespace

Application& Application::shared()
{
    if (!g_shared)
        std::abort(); // a controller reached the application before it was made: a programming error
    return *g_shared;
}

bool Application::exists() { return g_shared != nullptr; }

Application::Application()
{
    g_shared = this;
}

Application::~Application()
{
    m_popups.clear();
    m_delegate.reset();
    if (g_shared == this)
        g_shared = nullptr;
}

void Application::setNetworkActivityIndicatorVisible(bool visible)
{
    if (m_networkActivity == visible)
        return;
    m_networkActivity = visible;
    if (onStatusBarChanged)
        onStatusBarChanged();
}

void Application::applicationSuspend(Application*)
{
    terminate();
}

void Application::terminate()
{
    if (m_terminating)
        return;
    m_terminating = true;
    // A transfer must not go on unseen after the application has gone.
    ChildProcess::terminateAll();
    Platform::current().terminate(*this);
}

bool Application::openURL(const std::string& url)
{
    return Platform::current().openURL(url);
}

void Application::pushPopup(std::shared_ptr<Popup> popup)
{
    m_popups.push_back(std::move(popup));
    if (onPopupsChanged)
        onPopupsChanged();
}

void Application::removePopup(Popup& popup)
{
    auto it = std::find_if(m_popups.begin(), m_popups.end(), [&](auto& p) { return p.get() == &popup; });
    if (it == m_popups.end())
        return;
    auto keep = *it;
    m_popups.erase(it);
    if (onPopupsChanged)
        onPopupsChanged();
}

int ApplicationMain(int, char**, const std::function<std::unique_ptr<Application>()>& principalClass,
    const std::function<void(Application&)>& loadMainInterface)
{
    // The platform's share of start-up: the device's folders and the stored settings.
    auto& layout = DeviceLayout::current();
    layout.prepare();
    UserDefaults::standard().open(layout.settingsFile());
    auto app = principalClass();
    loadMainInterface(*app);
    if (auto* d = app->delegate())
        d->applicationDidFinishLaunching(*app);
    return Platform::current().run(*app);
}

} // namespace kit
