// A banner that flips in over another in the window: the first half of the
// transition shows the old banner's picture turning away, the second half
// the new one turning in, then the new one flat.
#include "QtTestSupport.h"

#include "shells/qt/Scene.h"

#include "ads/AdlarkAd.h"
#include "ads/AdlarkSingleAdView.h"
#include "kit/ui/Window.h"

#include <QApplication>
#include <gtest/gtest.h>

using namespace qtshell;

namespace {

std::shared_ptr<AdlarkSingleAdView> bannerWithIcon(uint8_t red, uint8_t green)
{
    std::vector<uint8_t> pixels(38 * 38 * 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = red;
        pixels[i + 1] = green;
        pixels[i + 3] = 255;
    }
    auto ad = AdlarkAd::createReady({ AdlarkAd::MediumText, std::string("Flip"), kit::Image::fromRGBA(38, 38, pixels), nullptr });
    auto banner = AdlarkSingleAdView::initWithFrame({ 0, 0, 320, 48 });
    banner->setAd(ad);
    banner->setTag(1);
    return banner;
}

TEST(BannerFlipTest, TheOldPictureTurnsAwayThenTheNewOneTurnsIn)
{
    kit::RunLoop::main().reset();
    kit::RunLoop::main().useManualClock();
    kit::ViewAnimation::reset();
    auto window = std::make_shared<kit::Window>();
    auto adView = kit::View::create(kit::Rect { 0, 100, 320, 48 });
    window->addSubview(adView);
    auto oldBanner = bannerWithIcon(255, 0);
    adView->addSubview(oldBanner);
    QWidget host;
    host.resize(320, 480);
    {
        Scene scene(*window, &host);
        host.show();
        QApplication::processEvents();
        auto iconCentre = [&] { return host.grab().toImage().pixelColor(23, 124); };
        EXPECT_EQ(iconCentre(), QColor(255, 0, 0));

        auto fresh = bannerWithIcon(0, 255);
        kit::ViewAnimation::beginAnimations("newAdlarkAd");
        kit::ViewAnimation::setAnimationDuration(0.7);
        kit::ViewAnimation::setAnimationTransition(kit::AnimationTransition::FlipFromRight, *adView, true);
        adView->addSubview(fresh);
        oldBanner->removeFromSuperview();
        kit::ViewAnimation::commitAnimations();
        QApplication::processEvents();

        // Early on the old picture, barely turned: its icon still where it was.
        kit::RunLoop::main().advance(0.02);
        EXPECT_EQ(iconCentre().red(), 255);
        // Edge-on at the middle: nothing at the icon's place.
        kit::RunLoop::main().advance(0.33);
        auto middle = host.grab().toImage();
        EXPECT_NE(middle.pixelColor(23, 124), QColor(255, 0, 0));
        EXPECT_NE(middle.pixelColor(23, 124), QColor(0, 255, 0));
        EXPECT_EQ(middle.pixelColor(160, 124), middle.pixelColor(160, 300)); // what lies behind shows through
        // Late on the new picture, nearly flat.
        kit::RunLoop::main().advance(0.33);
        EXPECT_EQ(iconCentre().green(), 255);
        kit::RunLoop::main().advance(0.1);
        EXPECT_TRUE(kit::ViewAnimation::activeTransitions().empty());
        EXPECT_EQ(iconCentre(), QColor(0, 255, 0));
    }
    kit::ViewAnimation::reset();
    kit::RunLoop::main().reset();
    kit::RunLoop::main().setClock(std::make_shared<kit::RealClock>());
}

} // namespace
