// The Files tab as the banner's host: its answers, the placement, the one
// refresh timer, and the failure that drops the banner for good.
#include "TestSupport.h"

#include "ads/AdlarkController.h"
#include "ads/AdlarkSingleAdView.h"
#include "files/TorrentFiles.h"
#include "tests/support/LogCapture.h"

using namespace adtest;

namespace {

class FailingTab : public TorrentFiles {
public:
    std::optional<std::string> publisherId() override { return std::string("status404"); }
};

// No publisher and no browser icons to fetch first: the first ad fails while
// its request is being started.
class NoPublisherTab : public TorrentFiles {
public:
    std::optional<std::string> publisherId() override { return std::nullopt; }
    std::optional<bool> useEmbeddedWebView() override { return false; }
};

class HostTest : public LoopTest {
protected:
    // The host's own log lines, without their time stamps.
    std::vector<std::string> adLines() const
    {
        std::vector<std::string> out;
        for (auto& line : capture.lines())
            if (auto at = line.find("Adlark: "); at != std::string::npos)
                out.push_back(line.substr(at));
        return out;
    }

    testsupport::LogCapture capture;
};

TEST_F(HostTest, TheBannerShowsAtTheFootOfTheTabAndIsRefreshedEveryMinute)
{
    auto tab = std::make_shared<TorrentFiles>();
    EXPECT_EQ(tab->publisherId(), "c7e05d2f9b31a48");
    EXPECT_EQ(tab->adBackgroundColor(), kit::Color::black());
    EXPECT_EQ(tab->adTextColor(), kit::Color::white());
    EXPECT_EQ(tab->mayAskForLocation(), false);
    EXPECT_EQ(tab->useGraySpinner(), std::nullopt); // the protocol's default
    auto& root = tab->view();
    ASSERT_NE(tab->adlarkAd, nullptr);
    EXPECT_EQ(tab->adlarkAd->superview(), nullptr); // not placed before its first ad
    ASSERT_TRUE(waitFor([&] { return !adLines().empty(); }));
    EXPECT_EQ(adLines(), (std::vector<std::string> { "Adlark: Did receive ad" }));
    EXPECT_EQ(tab->adlarkAd->superview(), &root);
    EXPECT_EQ(tab->adlarkAd->frame(), (kit::Rect { 0, 364, 320, 48 }));
    // The list ends above the banner: its last row can be scrolled into sight.
    ASSERT_NE(tab->tableView, nullptr);
    EXPECT_FLOAT_EQ(tab->tableView->contentInsetBottom(), tab->tableView->frame().maxY() - 364);
    EXPECT_GT(tab->tableView->contentInsetBottom(), 40);
    ASSERT_NE(tab->autoslider, nullptr);
    EXPECT_TRUE(tab->autoslider->repeats());
    EXPECT_DOUBLE_EQ(tab->autoslider->interval(), 60.0);
    auto requests = adnet().since("/ad_source.php");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].param("s"), "c7e05d2f9b31a48");
    EXPECT_FALSE(requests[0].params.contains("d[coord]")); // no location
    auto* banner = dynamic_cast<AdlarkSingleAdView*>(tab->adlarkAd->viewWithTag(1));
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(banner->ad()->backgroundColor(), kit::Color::black());

    auto timer = tab->autoslider;
    kit::RunLoop::main().advance(59.9);
    EXPECT_EQ(adnet().since("/ad_source.php").size(), 1u);
    kit::RunLoop::main().advance(0.1);
    auto& controller = *static_cast<AdlarkViewInternal&>(*tab->adlarkAd).controller();
    // The fresh ad may have come within that step already (loopback answers
    // in a moment, and the step delivers what is ready): wait for the new
    // banner, not for a load in progress.
    const std::weak_ptr<kit::View> first = banner->shared_from_this();
    ASSERT_TRUE(waitFor([&] {
        auto* shown = tab->adlarkAd->viewWithTag(1);
        return controller.loadingAd() == nullptr && shown && shown != first.lock().get();
    }));
    EXPECT_EQ(adnet().since("/ad_source.php").size(), 2u);
    EXPECT_EQ(tab->autoslider, timer); // made once
    EXPECT_EQ(adLines().size(), 1u);
}

TEST_F(HostTest, AFailedFirstAdDropsTheBannerForGood)
{
    auto tab = std::make_shared<FailingTab>();
    tab->view();
    ASSERT_TRUE(waitFor([&] { return !adLines().empty(); }));
    EXPECT_EQ(adLines(), (std::vector<std::string> { "Adlark: Did fail to receive ad" }));
    EXPECT_EQ(tab->adlarkAd, nullptr);
    EXPECT_EQ(tab->autoslider, nullptr);
    EXPECT_FLOAT_EQ(tab->tableView->contentInsetBottom(), 0); // no banner over the list
    for (auto& child : tab->view().subviews())
        EXPECT_EQ(dynamic_cast<AdlarkView*>(child.get()), nullptr);
    kit::RunLoop::main().advance(600);
    kit::RunLoop::main().runUntil([] { return false; }, 0.2);
    EXPECT_EQ(adnet().since("/ad_source.php").size(), 1u);
}

TEST_F(HostTest, AFirstAdFailingAtOnceDropsTheBannerBeforeTheViewHasLoaded)
{
    auto tab = std::make_shared<NoPublisherTab>();
    tab->view();
    EXPECT_EQ(adLines(), (std::vector<std::string> { "Adlark: Did fail to receive ad" }));
    EXPECT_EQ(tab->adlarkAd, nullptr);
    EXPECT_EQ(tab->autoslider, nullptr);
    for (auto& child : tab->view().subviews())
        EXPECT_EQ(dynamic_cast<AdlarkView*>(child.get()), nullptr);
    kit::RunLoop::main().runUntil([] { return false; }, 0.2);
    EXPECT_EQ(adLines().size(), 1u);
    EXPECT_EQ(adnet().since("/ad_source.php").size(), 0u);
}

} // namespace
