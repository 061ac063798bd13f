#pragma once
// What the landing page tests share: a window with an ad view inside other
// views, an application whose platform records the addresses handed to the
// system, and a host delegate that counts the notices it hears.
#include "ads/AdlarkDelegate.h"
#include "tests/support/LoopTest.h"
#include "tests/support/RecordingPlatform.h"

#include "kit/ui/Application.h"
#include "kit/ui/Window.h"

#include <memory>
#include <string>
#include <vector>

namespace landingtest {

// Answers every notice, in the order heard.
class NoticeHost : public AdlarkDelegate {
public:
    // The publisher identifier names adnet's scenario.
    std::optional<std::string> publisherId() override { return publisher; }
    std::string publisher = "text";
    void willPresentModalCanvas() override { notices.push_back("willPresentModalCanvas"); }
    void didDismissModalCanvas() override { notices.push_back("didDismissModalCanvas"); }
    void willPresentWebView() override { notices.push_back("willPresentWebView"); }
    void didDismissWebView() override { notices.push_back("didDismissWebView"); }
    std::optional<int> embeddedWebViewBarStyle() override { return barStyle; }
    std::optional<kit::Color> embeddedWebViewTintColor() override { return tint; }
    std::vector<std::string> notices;
    std::optional<int> barStyle;
    std::optional<kit::Color> tint;
};

class LandingTest : public testsupport::LoopTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Advances the manual clock in small steps (animations end in order).
    void advance(double seconds);
    size_t subviewCount(const kit::View& view) const { return view.subviews().size(); }

    std::unique_ptr<kit::Application> app;
    std::shared_ptr<testsupport::RecordingPlatform> system;
    std::shared_ptr<kit::Window> window;
    // The ad view sits at (10, 6) in a box at (0, 360) in a screen at (0, 20).
    std::shared_ptr<kit::View> screen, box, adView;
    std::shared_ptr<NoticeHost> host;
};

} // namespace landingtest
