// The transfer's progress bar in the window: filled from the left as far as
// the model says, and repainted when it moves.
#include "QtTestSupport.h"

#include "shells/qt/Scene.h"
#include "shells/qt/ViewPeer.h"

#include "kit/ui/ProgressView.h"
#include "kit/ui/Window.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgressViewPeerTest, FillsAsFarAsTheProgress)
{
    kit::RunLoop::main().reset();
    auto window = std::make_shared<kit::Window>();
    auto bar = kit::View::create<kit::ProgressView>(kit::Rect { 10, 100, 200, 10 });
    window->addSubview(bar);
    auto host = std::make_unique<QWidget>();
    host->resize(320, 480);
    {
        qtshell::Scene scene(*window, host.get());
        host->show();
        auto* peer = scene.peerFor(bar.get());
        ASSERT_NE(peer, nullptr);
        auto filled = [&](int x) {
            QColor c = peer->grab().toImage().pixelColor(x, 5);
            return c.blue() > 150 && c.red() < 100; // the fill's blue, not the grey track
        };
        EXPECT_FALSE(filled(20));
        bar->setProgress(0.5f);
        EXPECT_TRUE(filled(20));
        EXPECT_TRUE(filled(90));
        EXPECT_FALSE(filled(120));
        bar->setProgress(1.0f);
        EXPECT_TRUE(filled(180));
        bar->setProgress(-2.0f);
        EXPECT_FALSE(filled(20)) << "clamped to empty";
    }
    host.reset();
    window.reset();
}

} // namespace
