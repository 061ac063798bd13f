#include "web/FirstViewController.h"

#include "kit/ui/Application.h"
#include "kit/web/HeadlessWebEngine.h"
#include "kit/core/RunLoop.h"
#include "kit/core/UserDefaults.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/web/WebTestSupport.h"
#include "web/WelcomePage.h"

#include <gtest/gtest.h>

using namespace webtest;

namespace {

class WelcomeTab : public ServedTest {
protected:
    void SetUp() override
    {
        ServedTest::SetUp();
        m_settings = m_folder / "settings";
        kit::UserDefaults::standard().open(m_settings);
        m_platform = &env.platform();
        m_app = std::make_unique<kit::Application>();
    }
    void TearDown() override
    {
        m_tab.reset();
        m_app.reset();
    }
    // A start of the application: the settings come back from their file.
    void start()
    {
        m_tab.reset();
        m_app.reset();
        m_app = std::make_unique<kit::Application>();
        kit::UserDefaults::standard().open(m_settings);
        m_tab = std::make_shared<FirstViewController>();
        m_tab->awakeFromNib();
    }
    std::optional<std::string> stored(const char* key) { return kit::UserDefaults::standard().stringForKey(key); }

    TempFolder m_folder;
    std::string m_settings;
    kit::TestPlatform* m_platform { nullptr };
    std::unique_ptr<kit::Application> m_app;
    std::shared_ptr<FirstViewController> m_tab;
};

TEST_F(WelcomeTab, FirstRunNoticeShowsOnceAcrossStarts)
{
    start();
    ASSERT_NE(m_app->frontPopup(), nullptr);
    EXPECT_EQ(m_app->frontPopup()->title(), "Quorvane 2.1b\nPlease Read!");
    EXPECT_EQ(m_app->frontPopup()->message().rfind("This is only shown once!", 0), 0u);
    EXPECT_EQ(stored("AlertBool"), "Ja") << "stored while the notice is still up";
    m_app->frontPopup()->dismissWithClickedButtonIndex(0, false);
    EXPECT_TRUE(m_platform->openedURLs.empty()) << "Close does nothing";

    start();
    EXPECT_EQ(m_app->frontPopup(), nullptr);
    EXPECT_EQ(stored("AlertBool"), "Ja");
}

TEST_F(WelcomeTab, OtherMarkShowsTheNoticeAgain)
{
    kit::UserDefaults::standard().setObject("ja", "AlertBool");
    start();
    ASSERT_NE(m_app->frontPopup(), nullptr);
    EXPECT_EQ(stored("AlertBool"), "Ja");
}

TEST_F(WelcomeTab, EveryStartClearsTheTransferRequest)
{
    kit::UserDefaults::standard().setObject("Yes", "DownloadTorrentBool");
    kit::UserDefaults::standard().setObject("Ja", "AlertBool");
    start();
    EXPECT_EQ(stored("DownloadTorrentBool"), "No");
    kit::UserDefaults::standard().setObject("Yes", "DownloadTorrentBool");
    start();
    EXPECT_EQ(stored("DownloadTorrentBool"), "No");
}

TEST_F(WelcomeTab, SupportOpensTheDonationPageOutside)
{
    start();
    ASSERT_NE(m_app->frontPopup(), nullptr);
    EXPECT_EQ(m_app->frontPopup()->buttonTitleAtIndex(1), "Support");
    m_app->frontPopup()->dismissWithClickedButtonIndex(1, false);
    EXPECT_EQ(m_platform->openedURLs, (std::vector<std::string> { FirstViewController::donationPageAddress }));
    EXPECT_EQ(m_app->frontPopup(), nullptr);
}

TEST_F(WelcomeTab, AboutBoxHasOnlyClose)
{
    kit::UserDefaults::standard().setObject("Ja", "AlertBool");
    start();
    m_tab->showInfo();
    ASSERT_NE(m_app->frontPopup(), nullptr);
    EXPECT_EQ(m_app->frontPopup()->title(), "About Quorvane");
    EXPECT_EQ(m_app->frontPopup()->numberOfButtons(), 1);
    EXPECT_NE(m_app->frontPopup()->message().find("Special Thanks to:"), std::string::npos);
    EXPECT_NE(m_app->frontPopup()->message().find("\nVersion " QUORVANE_TEST_VERSION "\n"), std::string::npos);
    m_app->frontPopup()->dismissWithClickedButtonIndex(0, false);
    EXPECT_TRUE(m_platform->openedURLs.empty());
}

TEST_F(WelcomeTab, WelcomePageTurnsTheIndicatorWhileLoading)
{
    kit::UserDefaults::standard().setObject("Ja", "AlertBool");
    start();
    ASSERT_TRUE(m_tab->webView->request());
    EXPECT_EQ(m_tab->webView->request()->absoluteString(), FirstViewController::welcomePageAddress);
    EXPECT_TRUE(m_tab->act->isAnimating());
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    EXPECT_EQ(m_tab->webView->title(), "Welcome to Quorvane");
    EXPECT_FALSE(m_tab->act->isAnimating());
    EXPECT_TRUE(m_tab->act->isHidden());
}

TEST(WelcomePage, SaysWhereAFollowedTorrentIsKeptAndHowToReachIt)
{
    const std::string page = welcomePageHTML;
    EXPECT_NE(page.find("as <b>page.torrent</b> in your <b>Documents</b> folder"), std::string::npos);
    EXPECT_EQ(page.find("keeps it in your downloads folder"), std::string::npos);
    // The way there from the Files tab.
    EXPECT_NE(page.find("In <b>Files</b>, touch <b>...</b>\nuntil you see <b>Documents</b>"), std::string::npos);
}

TEST_F(WelcomeTab, ExitEndsTheApplication)
{
    kit::UserDefaults::standard().setObject("Ja", "AlertBool");
    start();
    EXPECT_EQ(m_platform->terminations, 0);
    m_tab->exitApp();
    EXPECT_EQ(m_platform->terminations, 1);
    EXPECT_TRUE(m_app->isTerminating());
}

} // namespace

TEST_F(WelcomeTab, UnreachableWelcomeAddressShowsTheShippedPageAndStopsTheIndicator)
{
    // Nothing listens where the welcome address leads.
    ::setenv("QUORVANE_CONNECT_TO", "www.quorvane.example:80:127.0.0.1:1", 1);
    kit::UserDefaults::standard().setObject("Ja", "AlertBool");
    start();
    ASSERT_TRUE(m_tab->webView->request());
    EXPECT_EQ(m_tab->webView->request()->absoluteString(), FirstViewController::welcomePageAddress);
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    EXPECT_EQ(m_tab->webView->title(), "Welcome to Quorvane");
    EXPECT_EQ(m_tab->webView->request()->absoluteString(), "about:blank");
    EXPECT_FALSE(m_tab->act->isAnimating());
    auto* engine = dynamic_cast<kit::HeadlessWebEngine*>(&m_tab->webView->engine());
    ASSERT_NE(engine, nullptr);
    for (auto* text : { "Browse", "Files", "Transfer", "Download" })
        EXPECT_NE(engine->document().find(text), std::string::npos) << text;
    // The next start tries the address again.
    start();
    EXPECT_EQ(m_tab->webView->request()->absoluteString(), FirstViewController::welcomePageAddress);
}

TEST_F(WelcomeTab, StoppedLoadStopsTheIndicatorAndShowsNoPage)
{
    kit::UserDefaults::standard().setObject("Ja", "AlertBool");
    start();
    ASSERT_TRUE(m_tab->act->isAnimating());
    m_tab->webView->stopLoading();
    kit::RunLoop::main().advance(0);
    EXPECT_FALSE(m_tab->act->isAnimating());
    EXPECT_FALSE(m_tab->webView->isLoading());
    EXPECT_EQ(m_tab->webView->title(), "");
}
