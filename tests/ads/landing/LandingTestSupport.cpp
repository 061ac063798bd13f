#include "tests/ads/landing/LandingTestSupport.h"

#include "kit/web/HeadlessWebEngine.h"
#include "kit/web/WebView.h"

namespace landingtest {

void LandingTest::SetUp()
{
    testsupport::LoopTest::SetUp();
    app = std::make_unique<kit::Application>();
    system = std::make_shared<testsupport::RecordingPlatform>();
    system->setWebEngineFactory(kit::HeadlessWebEngine::factory());
    kit::Platform::install(system);
    window = kit::View::create<kit::Window>();
    window->makeKeyWindow();
    screen = kit::View::create(kit::Rect { 0, 20, 320, 460 });
    box = kit::View::create(kit::Rect { 0, 360, 320, 60 });
    adView = kit::View::create(kit::Rect { 10, 6, 300, 48 });
    window->addSubview(screen);
    screen->addSubview(box);
    box->addSubview(adView);
    host = std::make_shared<NoticeHost>();
}

void LandingTest::TearDown()
{
    adView.reset();
    box.reset();
    screen.reset();
    window.reset();
    kit::Platform::install(nullptr);
    app.reset();
    testsupport::LoopTest::TearDown();
}

void LandingTest::advance(double seconds)
{
    kit::RunLoop::main().advance(seconds);
}

} // namespace landingtest
