#include "kit/ui/Application.h"

#include "kit/core/ChildProcess.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/core/UserDefaults.h"
#include "kit/net/URLEscape.h"
#include "kit/ui/AlertView.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>

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
    if (m_delegate)
        m_delegate->applicationWillTerminate(*this);
    // A transfer must not go on unseen after the application has gone.
    ChildProcess::terminateAll();
    Platform::current().terminate(*this);
}

void Application::requestTermination()
{
    if (m_terminating || m_askingToTerminate)
        return;
    auto reply = m_delegate ? m_delegate->applicationShouldTerminate(*this) : TerminateReply::Now;
    if (reply == TerminateReply::Later)
        m_askingToTerminate = true;
    else if (reply == TerminateReply::Now)
        terminate();
}

void Application::replyToApplicationShouldTerminate(bool shouldTerminate)
{
    if (!m_askingToTerminate)
        return;
    m_askingToTerminate = false;
    if (shouldTerminate)
        terminate();
}

bool Application::openURL(const std::string& url)
{
    return Platform::current().openURL(url);
}

bool Application::handOverURL(const std::string& url)
{
    if (openURL(url))
        return true;
    auto [title, message] = missingProgramText(url);
    log(title + ": " + url);
    // A plain alert (no delegate): the show keeps it alive until it is answered.
    AlertView::create(title, message, {}, "OK", {})->show();
    return false;
}

std::pair<std::string, std::string> Application::missingProgramText(const std::string& url)
{
    std::string scheme;
    if (auto colon = url.find(':'); colon != std::string::npos)
        scheme = url.substr(0, colon);
    for (char& c : scheme)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (scheme == "mailto")
        return { "No mail program", "No mail program is set up on this system, so the mail cannot be written. Install or set up a mail program and try again." };
    if (scheme == "http" || scheme == "https")
        return { "No web browser", "No web browser is set up on this system to open:\n" + url };
    if (scheme == "file") {
        auto path = fileURLPath(url);
        std::error_code ec;
        if (path && !std::filesystem::exists(*path, ec))
            return { "File not found", "It is no longer there:\n" + *path };
        return { "No program for this file", "No program on this system is set up to open:\n" + path.value_or(url) };
    }
    if (scheme.empty())
        return { "Cannot open the address", "This address names no kind of program to open it:\n" + url };
    return { "No program for this address", "No program on this system opens \"" + scheme + ":\" addresses:\n" + url };
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
