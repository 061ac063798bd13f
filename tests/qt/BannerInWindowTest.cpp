// The ad banner in the window, offscreen: the Files tab's banner, fed by the
// project's ad network, shows on screen what its recorded drawing says.
#include "QtTestSupport.h"

#include "shells/qt/AppWindow.h"
#include "shells/qt/PopupLayer.h"
#include "shells/qt/QtPlatform.h"
#include "shells/qt/Scene.h"

#include "ads/AdlarkAd.h"
#include "ads/AdlarkSingleAdView.h"
#include "app/HalvexAppDelegate.h"
#include "app/QuorvaneMain.h"
#include "kit/core/DeviceLayout.h"
#include "kit/gfx/Fonts.h"
#include "kit/gfx/RecordingContext.h"
#include "tests/support/AdnetServer.h"
#include "tests/support/TempFolder.h"

#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace qtshell;

namespace {

AdlarkSingleAdView* findBanner(kit::View& v)
{
    if (auto* banner = dynamic_cast<AdlarkSingleAdView*>(&v); banner && banner->tag() == 1)
        return banner;
    for (auto& child : v.subviews())
        if (auto* found = findBanner(*child))
            return found;
    return nullptr;
}

QColor pixelOf(const kit::Image& image, int x, int y)
{
    auto* p = &image.pixels()[(size_t(y) * image.width() + x) * 4];
    return QColor(p[0], p[1], p[2], p[3]);
}

bool near(QColor a, QColor b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance && std::abs(a.blue() - b.blue()) <= tolerance;
}

TEST(BannerInWindowTest, TheFilesTabShowsTheBannerAsItsDrawingSays)
{
    testsupport::AdnetServer::shared().start();
    testsupport::TempFolder folder;
    kit::RunLoop::main().reset();
    kit::RunLoop::main().setClock(std::make_shared<kit::RealClock>());
    kit::ViewAnimation::reset();
    kit::DeviceLayout::current().setRoot(folder.path());

    auto platform = std::make_shared<QtPlatform>(Options {});
    platform->onRunning = [&](QtPlatform& p) {
        auto& w = *p.window();
        QTest::mouseClick(w.popups().buttonForIndex(0), Qt::LeftButton); // the first-run notice
        auto& tabs = *kit::Application::shared().delegateAs<HalvexAppDelegate>()->tabBarController;
        tabs.setSelectedIndex(2);
        AdlarkSingleAdView* banner = nullptr;
        EXPECT_TRUE(processUntil([&] { return (banner = findBanner(*kit::Application::shared().keyWindow())) != nullptr; }));
        if (!banner)
            return 0;
        QtPlatform::settle();
        auto* peer = w.scene().peerFor(banner);
        EXPECT_NE(peer, nullptr);
        if (!peer)
            return 0;
        EXPECT_EQ(peer->mapTo(&w, QPoint(0, 0)), QPoint(0, 384));
        QImage shot = p.renderWindow().convertToFormat(QImage::Format_RGB32);
        auto at = [&](float x, float y) { return shot.pixelColor(int(x), 384 + int(y)); };

        kit::RecordingContext drawing;
        banner->drawRect(drawing, banner->bounds());
        auto& ops = drawing.operations();
        EXPECT_GE(ops.size(), 3u);
        if (ops.size() < 3)
            return 0;
        // The shine: the base colour (black) half-transparent over white at
        // the top, the full colour from 43.75 % of the height down. x = 200
        // lies right of the text and left of the caption.
        EXPECT_EQ(ops[2].name, "drawLinearGradient");
        EXPECT_TRUE(near(at(200, 0), QColor(128, 128, 128), 6)) << at(200, 0).name().toStdString();
        EXPECT_TRUE(near(at(200, 10), QColor(64, 64, 64), 12)) << at(200, 10).name().toStdString();
        EXPECT_TRUE(near(at(200, 22), Qt::black)) << at(200, 22).name().toStdString();
        EXPECT_TRUE(near(at(200, 46), Qt::black)); // the last row lies under the tab bar
        // The text (white) inside the rectangles the drawing gives it, and none right of them.
        int texts = 0;
        for (auto& op : ops) {
            if (op.name != "drawText")
                continue;
            ++texts;
            float x = op.values[0], y = op.values[1], wdt = op.values[2], hgt = op.values[3];
            int ink = 0;
            for (int yy = int(y); yy < int(y + hgt); ++yy)
                for (int xx = int(x); xx < int(x + wdt); ++xx)
                    ink += at(float(xx), float(yy)).lightness() > 200;
            EXPECT_GT(ink, 15) << op.toString();
            // Right of the text only the background, as at x = 200 of the same row.
            for (int yy = int(y); yy < int(y + hgt); ++yy)
                EXPECT_TRUE(near(at(x + wdt + 2, float(yy)), at(200, float(yy)), 8)) << op.toString() << " row " << yy;
        }
        EXPECT_EQ(texts, 2);
        // The icon where the drawing puts it, in its own colours.
        auto& ad = *banner->ad();
        for (auto& op : ops)
            if (op.name == "drawImage") {
                float cx = op.values[0] + op.values[2] / 2, cy = op.values[1] + op.values[3] / 2;
                EXPECT_TRUE(near(at(cx, cy), pixelOf(*ad.userImage(), int(op.values[2] / 2), int(op.values[3] / 2))));
            }
        // The action icon's layer, drawn over the drawing at its frame.
        auto frame = banner->actionIconLayer()->frame();
        EXPECT_TRUE(near(at(frame.x() + frame.width() / 2, frame.y() + frame.height() / 2), pixelOf(*ad.actionImage(), 0, 0)));
        EXPECT_TRUE(near(at(frame.x() - 3, frame.y() + frame.height() / 2), Qt::black));
        return 0;
    };
    EXPECT_EQ(runInWindow(platform), 0);
    kit::RunLoop::main().reset();
}

} // namespace
