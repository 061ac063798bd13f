#include "kit/testing/TestEnvironment.h"

#include "kit/core/DeviceLayout.h"
#include "kit/core/NotificationCenter.h"
#include "kit/core/RunLoop.h"
#include "kit/ui/TextField.h"
#include "kit/core/UserDefaults.h"
#include "kit/ui/ViewAnimation.h"
#include "kit/ui/Window.h"

#include <cstdlib>
#include <filesystem>

namespace kit {

void TestPlatform::afterFirstFrame(std::function<void()> work)
{
    if (holdsFirstFrame)
        firstFrameWork.push_back(std::move(work));
    else
        work();
}

void TestPlatform::showFirstFrame()
{
    holdsFirstFrame = false;
    auto work = std::move(firstFrameWork);
    firstFrameWork.clear();
    for (auto& w : work)
        w();
}

bool TestPlatform::openURL(const std::string& url)
{
    openedURLs.push_back(url);
    return acceptsURLs;
}

bool TestPlatform::showNotification(const std::string& title, const std::string& body,
    const std::vector<NotificationAction>& actions)
{
    notifications.push_back({ title, body, actions });
    return true;
}

void TestPlatform::terminate(Application&)
{
    ++terminations;
}

TestEnvironment::TestEnvironment()
    : m_platform(std::make_shared<TestPlatform>())
{
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-env-XXXXXX").string();
    if (::mkdtemp(pattern.data()))
        m_root = pattern;
    m_previousRoot = DeviceLayout::current().root();
    DeviceLayout::current().setRoot(m_root);
    freshState();
    Platform::install(m_platform);
    m_clock = &loop().useManualClock();
}

TestEnvironment::~TestEnvironment()
{
    freshState();
    Platform::install(nullptr);
    loop().setClock(std::make_shared<RealClock>());
    DeviceLayout::current().setRoot(m_previousRoot);
    if (!m_root.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
}

void TestEnvironment::freshState()
{
    ViewAnimation::reset();
    loop().reset();
    NotificationCenter::defaultCenter().removeAllObservers();
    UserDefaults::standard() = UserDefaults();
    if (auto* field = TextField::firstResponder())
        field->resignFirstResponder();
    // Every test starts at the natural screen size.
    Window::setScreenSize({ Window::width, Window::height });
}

RunLoop& TestEnvironment::loop() const
{
    return RunLoop::main();
}

void TestEnvironment::advance(double seconds)
{
    loop().advance(seconds);
}

} // namespace kit
