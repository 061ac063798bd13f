#include "web/DownloadViewController.h"

#include "kit/core/DeviceLayout.h"
#include "kit/web/HeadlessWebEngine.h"
#include "kit/core/RunLoop.h"
#include "kit/core/UserDefaults.h"
#include "kit/ui/ViewAnimation.h"
#include "kit/ui/Window.h"
#include "tests/web/WebTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace webtest;

namespace {

struct TypedCase {
    const char* typed;
    const char* loaded;
};

void PrintTo(const TypedCase& c, std::ostream* out) { *out << '"' << c.typed << '"'; }

class TypedAddressRule : public testing::TestWithParam<TypedCase> { };

TEST_P(TypedAddressRule, PutsTheSchemeInFrontOnlyWhenMissing)
{
    EXPECT_EQ(DownloadViewController::typedAddress(GetParam().typed), GetParam().loaded);
}

INSTANTIATE_TEST_SUITE_P(Texts, TypedAddressRule,
    testing::Values(TypedCase { "example.org", "http://example.org" },
        TypedCase { "http://example.org/a", "http://example.org/a" },
        // The search is for the substring anywhere, not a prefix.
        TypedCase { "go to http://example.org", "go to http://example.org" },
        // Case matters: an upper-case scheme is not recognised.
        TypedCase { "HTTP://example.org", "http://HTTP://example.org" },
        // A secure address keeps its own scheme.
        TypedCase { "https://example.org", "https://example.org" },
        TypedCase { "", "http://" }));

struct SuffixCase {
    const char* address;
    bool torrent;
};

void PrintTo(const SuffixCase& c, std::ostream* out) { *out << '"' << c.address << '"'; }

class TorrentSuffix : public testing::TestWithParam<SuffixCase> { };

TEST_P(TorrentSuffix, IsCaseSensitiveOnTheWholeString)
{
    EXPECT_EQ(DownloadViewController::isTorrentAddress(GetParam().address), GetParam().torrent) << GetParam().address;
}

INSTANTIATE_TEST_SUITE_P(Addresses, TorrentSuffix,
    testing::Values(SuffixCase { "http://h/a.torrent", true },
        SuffixCase { "http://h/torrent", true },
        SuffixCase { "http://h/a.torrent?id=3", false },
        SuffixCase { "http://h/a.torrent#top", false },
        SuffixCase { "http://h/A.TORRENT", false },
        SuffixCase { "http://h/a.Torrent", false },
        SuffixCase { "http://h/a.torrents", false },
        SuffixCase { "torrent", true },
        SuffixCase { "orrent", false },
        SuffixCase { "", false }));

class BrowserTab : public ServedTest {
protected:
    void SetUp() override
    {
        ServedTest::SetUp();
        kit::DeviceLayout::current().setRoot(m_root);
        kit::DeviceLayout::current().prepare();
        m_tab = std::make_shared<DownloadViewController>();
        m_tab->view();
    }

    void TearDown() override
    {
        m_tab.reset();
        kit::DeviceLayout::current().setRoot("");
    }

    kit::HeadlessWebEngine& engine() { return static_cast<kit::HeadlessWebEngine&>(m_tab->webView->engine()); }

    void follow(const std::string& address)
    {
        engine().navigate(kit::URLRequest::requestWithURL(kit::URL::withString(address)), kit::WebViewNavigationType::LinkClicked);
        ASSERT_TRUE(waitForLoad(*m_tab->webView));
        // The copy of a torrent link is fetched beside the page's own load.
        ASSERT_TRUE(kit::RunLoop::main().runUntil([&] { return !m_tab->isFetching(); }, 10));
    }

    kit::Transform panelTransform() const { return m_tab->searchView->transform(); }

    TempFolder m_folder;
    const std::string m_root = m_folder.path();
    std::shared_ptr<DownloadViewController> m_tab;
    LogCapture m_log;
};

TEST_F(BrowserTab, StartsClosedAndLoadsTheDefaultStartPage)
{
    EXPECT_EQ(m_tab->searchView->tag(), DownloadViewController::panelClosed);
    EXPECT_TRUE(m_tab->searchView->isHidden());
    ASSERT_TRUE(m_tab->webView->request());
    EXPECT_EQ(m_tab->webView->request()->absoluteString(), DownloadViewController::defaultStartPage);
    EXPECT_TRUE(m_tab->act->isAnimating());
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    EXPECT_EQ(m_tab->webView->title(), "Quorvane Test & Torrents");
    EXPECT_FALSE(m_tab->act->isAnimating());
    // Mapping reaches the server without changing the address.
    EXPECT_EQ(m_tab->webView->request()->absoluteString(), "http://releases.ubuntu.com");
}

TEST_F(BrowserTab, SearchControlOpensThenClosesThePanel)
{
    m_tab->searchClicked();
    EXPECT_EQ(m_tab->searchView->tag(), DownloadViewController::panelOpen);
    EXPECT_FALSE(m_tab->searchView->isHidden());
    EXPECT_EQ(panelTransform(), kit::Transform::translation(0, 0));
    EXPECT_TRUE(m_log.contains("Search Clicked"));
    auto running = kit::ViewAnimation::activeAnimations();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].property, kit::ViewProperty::Transform);
    EXPECT_DOUBLE_EQ(running[0].duration, 2.0);
    EXPECT_EQ(std::get<kit::Transform>(running[0].from), kit::Transform::translation(0, -500));
    EXPECT_EQ(std::get<kit::Transform>(running[0].to), kit::Transform::translation(0, 0));
    kit::RunLoop::main().advance(1.0);
    EXPECT_TRUE(kit::ViewAnimation::isAnimating(*m_tab->searchView));
    kit::RunLoop::main().advance(1.0);
    EXPECT_FALSE(kit::ViewAnimation::isAnimating(*m_tab->searchView));

    m_log.clear();
    m_tab->searchClicked();
    EXPECT_EQ(m_tab->searchView->tag(), DownloadViewController::panelClosed);
    EXPECT_EQ(panelTransform(), kit::Transform::translation(0, -500));
    EXPECT_FALSE(m_tab->searchView->isHidden()) << "a closed panel stays unhidden, out of sight";
    EXPECT_FALSE(m_log.contains("Search Clicked"));
    running = kit::ViewAnimation::activeAnimations();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(std::get<kit::Transform>(running[0].from), kit::Transform::translation(0, 0));
}

TEST_F(BrowserTab, SiteButtonLoadsTheSiteAndClosesAnOpenPanel)
{
    m_tab->searchClicked();
    kit::RunLoop::main().advance(2.0);
    m_tab->sumoClicked();
    EXPECT_EQ(m_tab->searchView->tag(), DownloadViewController::panelClosed);
    EXPECT_EQ(panelTransform(), kit::Transform::translation(0, -500));
    EXPECT_EQ(m_tab->webView->request()->absoluteString(), DownloadViewController::sumoPage);
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    kit::RunLoop::main().advance(2.0);
    m_tab->searchClicked();
    EXPECT_EQ(m_tab->searchView->tag(), DownloadViewController::panelOpen);
    EXPECT_EQ(panelTransform(), kit::Transform::translation(0, 0));
}

TEST_F(BrowserTab, SiteButtonOnAClosedPanelJumpsInAndSlidesOutAgain)
{
    m_tab->liteClicked();
    EXPECT_TRUE(m_tab->searchView->isHidden()) << "a panel never shown stays hidden";
    auto running = kit::ViewAnimation::activeAnimations();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(std::get<kit::Transform>(running[0].from), kit::Transform::translation(0, 0));
    EXPECT_EQ(std::get<kit::Transform>(running[0].to), kit::Transform::translation(0, -500));
    EXPECT_EQ(m_tab->searchView->tag(), DownloadViewController::panelClosed);
}

TEST_F(BrowserTab, SearchControlIgnoresAnUnknownPanelState)
{
    m_tab->searchView->setTag(7);
    m_tab->searchClicked();
    EXPECT_EQ(m_tab->searchView->tag(), 7);
    EXPECT_TRUE(m_tab->searchView->isHidden());
    EXPECT_TRUE(kit::ViewAnimation::activeAnimations().empty());
    EXPECT_FALSE(m_log.contains("Search Clicked"));
}

TEST_F(BrowserTab, TypedHostGetsTheSchemeAndLoads)
{
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    auto window = std::make_shared<kit::Window>();
    window->addSubview(m_tab->viewPointer());
    // Taking the keyboard selects the address shown, so typing replaces it.
    ASSERT_TRUE(m_tab->urlField->becomeFirstResponder());
    EXPECT_EQ(m_tab->urlField->selectedText(), "http://releases.ubuntu.com");
    m_tab->urlField->insertText(std::string(siteHost) + "/next.html");
    m_tab->urlField->pressReturn();
    EXPECT_FALSE(m_tab->urlField->isFirstResponder());
    EXPECT_EQ(m_tab->urlField->text(), siteAddress("/next.html"));
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    EXPECT_EQ(m_tab->webView->title(), "Next Page");
    EXPECT_TRUE(m_log.contains(" URL String = " + siteAddress("/next.html")));
    m_tab->viewPointer()->removeFromSuperview();
}

TEST_F(BrowserTab, TypedTextThatIsNoAddressFailsQuietly)
{
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    m_tab->urlField->setText("not an address");
    m_tab->urlField->pressReturn();
    EXPECT_EQ(m_tab->urlField->text(), "http://not an address");
    kit::RunLoop::main().advance(0);
    EXPECT_FALSE(m_tab->webView->isLoading());
    EXPECT_EQ(m_tab->webView->title(), "Quorvane Test & Torrents");
}

TEST_F(BrowserTab, PageThatFailsStopsTheIndicator)
{
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    m_tab->urlField->setText("dead.quorvane.test/");
    m_tab->urlField->pressReturn();
    EXPECT_TRUE(m_tab->act->isAnimating());
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    EXPECT_FALSE(m_tab->act->isAnimating());
    EXPECT_EQ(m_tab->urlField->text(), "http://dead.quorvane.test/");
}

TEST_F(BrowserTab, TheAddressFieldFollowsThePageShown)
{
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    EXPECT_EQ(m_tab->urlField->text(), "http://releases.ubuntu.com");
    follow(siteAddress("/next.html"));
    EXPECT_EQ(m_tab->urlField->text(), siteAddress("/next.html"));
    m_tab->webView->goBack();
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    EXPECT_EQ(m_tab->urlField->text(), "http://releases.ubuntu.com");
    m_tab->webView->goForward();
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    EXPECT_EQ(m_tab->urlField->text(), siteAddress("/next.html"));
    // Focus alone does not hold the field: it still follows.
    auto window = std::make_shared<kit::Window>();
    window->addSubview(m_tab->viewPointer());
    ASSERT_TRUE(m_tab->urlField->becomeFirstResponder());
    m_tab->webView->goBack();
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    EXPECT_EQ(m_tab->urlField->text(), "http://releases.ubuntu.com");
    m_tab->webView->goForward();
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    // A user typing keeps the field: a page that loads meanwhile leaves it.
    m_tab->urlField->setText("half typ");
    m_tab->webView->goBack();
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    EXPECT_EQ(m_tab->urlField->text(), "half typ");
    m_tab->viewPointer()->removeFromSuperview();
}

TEST_F(BrowserTab, TorrentLinksAreKeptLastOneWins)
{
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    const auto kept = DownloadViewController::keptTorrentPath();
    EXPECT_EQ(kept, m_root + "/var/mobile/Documents/page.torrent");

    follow(siteAddress("/files/first.torrent"));
    // It says where the file went and offers Download, with nothing to
    // cancel, for as long as the page stays: no timer takes the button away.
    EXPECT_FALSE(m_tab->fetchBar->isHidden());
    EXPECT_EQ(m_tab->fetchLabel->text(), "Kept as page.torrent in Documents");
    EXPECT_TRUE(m_tab->fetchCancelButton->isHidden());
    EXPECT_FALSE(m_tab->fetchDownloadButton->isHidden());
    kit::RunLoop::main().advance(DownloadViewController::keptNoticeDuration * 10);
    EXPECT_FALSE(m_tab->fetchBar->isHidden());
    const std::string first = readFile(kept);
    EXPECT_EQ(first.substr(0, 11), "d8:announce");
    EXPECT_EQ(first.back(), '\x01') << "bytes are kept unchanged, NULs included";
    EXPECT_TRUE(m_log.contains("torrent"));
    // The web view goes on to load the link itself.
    EXPECT_EQ(m_tab->webView->request()->absoluteString(), siteAddress("/files/first.torrent"));

    m_tab->webView->goBack();
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    EXPECT_TRUE(m_tab->fetchBar->isHidden()) << "another page: the bar has had its say";
    follow(siteAddress("/files/second.torrent"));
    EXPECT_EQ(readFile(kept), "d8:announce25:http://tracker.test/second4:infod4:name6:secondee");

    // Left as they were by a failed fetch and by addresses that do not end in "torrent".
    for (auto* path : { "/missing.torrent", "/files/first.torrent?id=3", "/files/UPPER.TORRENT" }) {
        m_log.clear();
        follow(siteAddress(path));
        EXPECT_EQ(readFile(kept), "d8:announce25:http://tracker.test/second4:infod4:name6:secondee") << path;
        EXPECT_TRUE(m_log.contains(std::string(" URL String = ") + siteAddress(path)));
    }
    EXPECT_FALSE(m_log.contains("torrent")) << "no fetch for an upper-case suffix";

    follow(siteAddress("/torrent"));
    EXPECT_EQ(readFile(kept), "d4:name4:baree");
    // Nothing but the kept file in the folder: no temporary leftovers.
    size_t entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(m_root + "/var/mobile/Documents"))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST_F(BrowserTab, LogsTorrentBeforeTheAddressLine)
{
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    m_log.clear();
    follow(siteAddress("/torrent"));
    ASSERT_GE(m_log.lines().size(), 2u);
    EXPECT_EQ(m_log.lines()[0], "torrent");
    EXPECT_EQ(m_log.lines()[1], " URL String = " + siteAddress("/torrent"));
}

TEST_F(BrowserTab, ServerThatNeverAnswersYieldsNothingAfterTheTimeLimit)
{
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    follow(siteAddress("/files/first.torrent"));
    const auto before = readFile(DownloadViewController::keptTorrentPath());
    kit::RunLoop::main().advance(DownloadViewController::keptNoticeDuration);
    engine().navigate(kit::URLRequest::requestWithURL(kit::URL::withString(siteAddress("/hang.torrent"))),
        kit::WebViewNavigationType::LinkClicked);
    // The decision has returned at once: the view's own load runs, and the
    // foot bar says that the file is being fetched.
    EXPECT_TRUE(m_tab->webView->isLoading());
    EXPECT_TRUE(m_tab->isFetching());
    EXPECT_FALSE(m_tab->fetchBar->isHidden());
    EXPECT_EQ(m_tab->fetchLabel->text(), "Fetching the .torrent file\u2026");
    EXPECT_FALSE(m_tab->fetchCancelButton->isHidden());
    m_tab->webView->stopLoading();
    // The page and the tab go on while the server keeps silent.
    EXPECT_FALSE(kit::RunLoop::main().runUntil([&] { return !m_tab->isFetching(); }, 0.3));
    kit::RunLoop::main().advance(m_tab->fetchTimeLimit - 0.1);
    EXPECT_TRUE(m_tab->isFetching());
    kit::RunLoop::main().advance(0.2);
    EXPECT_FALSE(m_tab->isFetching());
    EXPECT_TRUE(m_tab->fetchBar->isHidden());
    EXPECT_EQ(readFile(DownloadViewController::keptTorrentPath()), before);
}

TEST_F(BrowserTab, CancelEndsTheFetchAndKeepsNothing)
{
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    engine().navigate(kit::URLRequest::requestWithURL(kit::URL::withString(siteAddress("/hang.torrent"))),
        kit::WebViewNavigationType::LinkClicked);
    ASSERT_TRUE(m_tab->isFetching());
    m_tab->fetchCancelButton->sendAction();
    EXPECT_FALSE(m_tab->isFetching());
    EXPECT_TRUE(m_tab->fetchBar->isHidden());
    EXPECT_TRUE(m_log.contains("the torrent fetch was cancelled"));
    kit::RunLoop::main().advance(60);
    EXPECT_FALSE(fileExists(DownloadViewController::keptTorrentPath()));
    m_tab->webView->stopLoading();
    // A later link fetches again, and a link followed during a fetch wins.
    engine().navigate(kit::URLRequest::requestWithURL(kit::URL::withString(siteAddress("/hang.torrent"))),
        kit::WebViewNavigationType::LinkClicked);
    follow(siteAddress("/torrent"));
    EXPECT_EQ(readFile(DownloadViewController::keptTorrentPath()), "d4:name4:baree");
}

TEST_F(BrowserTab, MissingDocumentsFolderIsNotCreated)
{
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    std::filesystem::remove_all(m_root + "/var/mobile/Documents");
    follow(siteAddress("/files/first.torrent"));
    EXPECT_FALSE(fileExists(m_root + "/var/mobile/Documents"));
    EXPECT_EQ(m_tab->webView->request()->absoluteString(), siteAddress("/files/first.torrent"));
}

} // namespace

TEST_F(BrowserTab, AFollowedMagnetLinkIsAskedForInTheTransferTabAndThePageGoesNowhere)
{
    ASSERT_TRUE(waitForLoad(*m_tab->webView));
    const auto shown = m_tab->urlField->text();
    auto& defaults = kit::UserDefaults::standard();
    defaults.setObject("No", "DownloadTorrentBool");
    engine().navigate(kit::URLRequest::requestWithURL(kit::URL::withString("magnet:?xt=urn:btih:0123456789ABCDEF0123456789abcdef01234567&dn=Big%20Buck%20Bunny")),
        kit::WebViewNavigationType::LinkClicked);
    EXPECT_EQ(defaults.stringForKey("DownloadTorrentBool"), "Yes");
    EXPECT_EQ(defaults.stringForKey("DownloadTorrentName"), "Big Buck Bunny");
    EXPECT_EQ(defaults.stringForKey("DownloadTorrent"), "magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567&dn=Big%20Buck%20Bunny");
    EXPECT_EQ(m_tab->urlField->text(), shown);
    EXPECT_FALSE(m_tab->isFetching());
}
