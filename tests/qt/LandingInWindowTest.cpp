// The landing pages in the real web engine. The canvas panel, offscreen, against adnet: the page
// receives the canvas address and a title with quotes and a backslash intact
// (adnet's page writes what cb received into its title), "launch" hands its
// address to the system and leaves the panel open, "closecanvas" closes it.
#include "ads/landing/AdlarkBrowserController.h"
#include "ads/landing/AdlarkCanvasController.h"
#include "shells/qt/QtWebEngine.h"
#include "shells/qt/RunLoopBridge.h"
#include "shells/qt/Scene.h"
#include "tests/qt/QtTestSupport.h"
#include "tests/support/AdnetServer.h"
#include "tests/support/RecordingPlatform.h"

#include "kit/ui/Application.h"
#include "kit/ui/Window.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QWebEngineView>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// A person's click on the link showing `text`: real mouse input, which
// carries a user's gesture (a script's click does not), where the page
// shows the link, zoom and all.
bool clickLink(kit::WebView& web, const std::string& text)
{
    auto& engine = static_cast<qtshell::QtWebEngine&>(web.engine());
    std::string where;
    web.stringByEvaluatingJavaScriptFromString("(function () { var a = Array.from(document.links).find(l => l.textContent == '" + text
            + "'); if (!a) return 'none'; var r = a.getBoundingClientRect(); return (r.left + r.width / 2) + ',' + (r.top + r.height / 2); })()",
        [&](std::string answer) { where = answer.empty() ? "none" : answer; });
    if (!processUntil([&] { return !where.empty(); }, 30000) || where == "none")
        return false;
    auto comma = where.find(',');
    auto* view = QWebEngineView::forPage(engine.page());
    if (!view || !view->focusProxy())
        return false;
    const double zoom = engine.page()->zoomFactor();
    QPoint point(int(std::stod(where.substr(0, comma)) * zoom), int(std::stod(where.substr(comma + 1)) * zoom));
    QTest::mouseClick(view->focusProxy(), Qt::LeftButton, {}, point);
    return true;
}

// The page's own loads, counted from the moment the page exists (it waits
// for the window's first frame).
struct PageSignals {
    explicit PageSignals(qtshell::QtWebEngine& engine)
    {
        engine.whenPageReady([this, alive = std::weak_ptr<bool>(m_alive)](QWebEnginePage* page) {
            if (alive.expired())
                return;
            QObject::connect(page, &QWebEnginePage::loadStarted, &m_context, [this] { ++started; });
            QObject::connect(page, &QWebEnginePage::loadFinished, &m_context, [this](bool) { ++finished; });
        });
    }
    // Every load the page started has finished.
    bool settled() const { return finished >= started; }
    int started { 0 };
    int finished { 0 };

private:
    QObject m_context;
    std::shared_ptr<bool> m_alive { std::make_shared<bool>(true) };
};

// Waits until the page has drawn two frames since asked: what it shows is on
// screen, and a person's click lands on it (the engine drops input to a page
// it has not drawn yet).
bool drawn(kit::WebView& web, int limitMs)
{
    web.stringByEvaluatingJavaScriptFromString("window.quorvaneDrawn = false; "
                                               "requestAnimationFrame(() => requestAnimationFrame(() => { window.quorvaneDrawn = true; })); ''",
        nullptr);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < limitMs) {
        std::string answer;
        web.stringByEvaluatingJavaScriptFromString("String(window.quorvaneDrawn)", [&](std::string a) { answer = a.empty() ? "-" : a; });
        if (!processUntil([&] { return !answer.empty(); }, int(limitMs - t.elapsed())))
            return false;
        if (answer == "true")
            return true;
    }
    return false;
}

// Whether a process runs (neither gone nor only waiting to be reaped).
bool processRuns(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const auto end = line.lastIndexOf(')');
    return end > 0 && line.size() > end + 2 && line[end + 2] != 'Z';
}

// Turns the loop for a while, for what would come if something were wrong.
void settle(int ms)
{
    processUntil([] { return false; }, ms);
}

// A window with the ad view in it, on a recording platform with the real web
// engine, against the shared adnet. The members come up in this order and go
// in the reverse one, after the platform is uninstalled: the order the web
// engine needs.
class LandingInWindow : public ::testing::Test {
protected:
    LandingInWindow()
    {
        window->addSubview(adView);
        screen.resize(320, 480);
        scene = std::make_unique<qtshell::Scene>(*window, &screen);
        screen.show();
    }
    ~LandingInWindow() override { kit::Platform::install(nullptr); }

    static std::shared_ptr<testsupport::RecordingPlatform> installedPlatform()
    {
        auto system = std::make_shared<testsupport::RecordingPlatform>();
        kit::Platform::install(system);
        qtshell::RunLoopBridge::install();
        system->setWebEngineFactory([](kit::WebView& view) { return std::make_unique<qtshell::QtWebEngine>(view); });
        return system;
    }
    struct Adnet {
        // Before the web engine starts: its host rules come from this mapping.
        Adnet()
        {
            testsupport::AdnetServer::shared().start();
            kit::RunLoop::main().reset();
        }
        ~Adnet()
        {
            testsupport::AdnetServer::shared().stop();
            kit::RunLoop::main().reset();
        }
    } adnet;
    kit::Application app;
    std::shared_ptr<testsupport::RecordingPlatform> system = installedPlatform();
    std::shared_ptr<kit::Window> window = std::make_shared<kit::Window>();
    std::shared_ptr<kit::View> adView = kit::View::create(kit::Rect { 0, 384, 320, 48 });
    QWidget screen;
    std::unique_ptr<qtshell::Scene> scene;
};

struct CanvasHost : AdlarkDelegate {
    std::optional<std::string> publisherId() override { return "canvas"; }
    void willPresentModalCanvas() override { notices.push_back("will"); }
    void didDismissModalCanvas() override { notices.push_back("did"); }
    std::vector<std::string> notices;
};

TEST_F(LandingInWindow, TheCanvasPageIsCalledAndItsCommandsLaunchAndClose)
{
    auto host = std::make_shared<CanvasHost>();
    auto canvas = AdlarkModalController::create<AdlarkCanvasController>();
    canvas->setAdlarkDelegate(host);
    const std::string title = "It's \"quoted\" \\ </script>";
    canvas->presentCanvasFromView(adView, *kit::URL::withString("http://media.example.test/static/iphone/canvas.html"), title);
    auto panel = std::static_pointer_cast<AdlarkCanvasWebView>(canvas->modalView());
    ASSERT_TRUE(processUntil([&] { return panel->title().rfind("cb ", 0) == 0; }, 60000)) << "title: " << panel->title();
    EXPECT_EQ(panel->title(),
        "cb [\"http://media.example.test/static/iphone/canvas.html#sdk\",\"It's \\\"quoted\\\" \\\\ </script>\"]");

    panel->stringByEvaluatingJavaScriptFromString("document.getElementById('launch').click()", nullptr);
    ASSERT_TRUE(processUntil([&] { return !system->opened.empty(); }, 30000));
    EXPECT_EQ(system->opened, std::vector<std::string> { "http://ads.example.test/landing.html" });
    EXPECT_EQ(host->notices, std::vector<std::string> { "will" });

    panel->stringByEvaluatingJavaScriptFromString("document.getElementById('close').click()", nullptr);
    ASSERT_TRUE(processUntil([&] { return host->notices.size() == 2; }, 30000));
    EXPECT_EQ(canvas->background(), nullptr);
    EXPECT_EQ(window->subviews().size(), 1u);
}

struct WebHost : AdlarkDelegate {
    std::optional<std::string> publisherId() override { return "text"; }
    void didDismissWebView() override { ++dismissed; }
    int dismissed { 0 };
};

TEST_F(LandingInWindow, TheBrowserFollowsHistoryHandsOverReportsFailuresAndCloses)
{
    auto host = std::make_shared<WebHost>();
    auto browser = AdlarkModalController::create<AdlarkBrowserController>();
    browser->setAdlarkDelegate(host);
    browser->presentBrowserFromView(adView, *kit::URL::withString("http://ads.example.test/landing.html"));
    auto title = [&] { return browser->topNavItem()->title(); };
    auto* web = browser->webView();
    ASSERT_TRUE(processUntil([&] { return title() == "Quorvane ad landing page"; }, 60000)) << title();
    auto click = [&](const std::string& text) {
        web->stringByEvaluatingJavaScriptFromString(
            "Array.from(document.links).find(a => a.textContent == '" + text + "').click()", nullptr);
    };
    // Chromium's back skips entries a script made without a user's gesture: load it as a person would.
    web->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString("http://ads.example.test/landing2.html")));
    ASSERT_TRUE(processUntil([&] { return title() == "Second landing page" && web->canGoBack(); }, 30000)) << title();
    web->goBack();
    ASSERT_TRUE(processUntil([&] { return title() == "Quorvane ad landing page" && web->canGoForward(); }, 30000))
        << title() << " " << web->request()->absoluteString() << " loading=" << web->isLoading() << " title=" << web->title();
    EXPECT_EQ(browser->bottomToolbar()->items()[2]->title(), "forward");
    click("Watch the video");
    click("A local file");
    ASSERT_TRUE(processUntil([&] { return !system->opened.empty(); }, 30000));
    click("A page that fails");
    ASSERT_TRUE(processUntil([&] { return app.frontPopup() != nullptr; }, 30000));
    EXPECT_EQ(app.frontPopup()->title(), "Whoops");
    // Chromium tells a dropped body as a short body (a lost connection) or,
    // depending on when the drop is seen, as a failure without a closer code.
    const std::string message = app.frontPopup()->message();
    EXPECT_TRUE(message == "Couldn't connect to that page." || message == "That page could not be loaded.") << message;
    app.frontPopup()->dismissWithClickedButtonIndex(0, true);
    EXPECT_EQ(system->opened, std::vector<std::string> { "http://www.clipstream.example/watch?v=quorvane" });

    browser->topToolbar()->leftButtonView()->sendAction(); // Done
    ASSERT_TRUE(processUntil([&] { return host->dismissed == 1; }, 30000));
    EXPECT_EQ(window->subviews().size(), 1u);
}

TEST_F(LandingInWindow, ACapitalisedMessageLinkIsAnOrdinaryNavigationAndLeavesThePanelOpen)
{
    auto host = std::make_shared<CanvasHost>();
    auto canvas = AdlarkModalController::create<AdlarkCanvasController>();
    canvas->setAdlarkDelegate(host);
    canvas->presentCanvasFromView(adView, *kit::URL::withString("http://media.example.test/static/iphone/canvas.html"), "Capitals");
    auto panel = std::static_pointer_cast<AdlarkCanvasWebView>(canvas->modalView());
    ASSERT_TRUE(processUntil([&] { return panel->title().rfind("cb ", 0) == 0; }, 60000)) << "title: " << panel->title();
    ASSERT_TRUE(processUntil([&] { return !canvas->presentationAnimationInProgress(); }, 30000));
    ASSERT_TRUE(clickLink(*panel, "Close, in capitals"));
    settle(1500);
    EXPECT_FALSE(canvas->isDismissing()) << "the scheme as written is not the message scheme";
    EXPECT_EQ(host->notices, std::vector<std::string> { "will" });
    EXPECT_FALSE(panel->isLoading());
    ASSERT_TRUE(clickLink(*panel, "Close"));
    ASSERT_TRUE(processUntil([&] { return host->notices.size() == 2; }, 30000)) << "the message as written closes";
}

TEST_F(LandingInWindow, MailTelephoneAndStoreLinksGoToTheSystemAndThePageStaysAsItWas)
{
    auto host = std::make_shared<WebHost>();
    auto browser = AdlarkModalController::create<AdlarkBrowserController>();
    browser->setAdlarkDelegate(host);
    const std::string landing = "http://ads.example.test/landing.html";
    browser->presentBrowserFromView(adView, *kit::URL::withString(landing));
    auto* web = browser->webView();
    ASSERT_TRUE(processUntil([&] { return browser->topNavItem()->title() == "Quorvane ad landing page"; }, 60000));
    ASSERT_TRUE(processUntil([&] { return !browser->presentationAnimationInProgress(); }, 30000));
    const std::pair<const char*, const char*> links[] = {
        { "Write to us", "mailto:ads@example.test?subject=Hello" },
        { "Call us", "tel:+15550100" },
        { "Buy the album", "itms://store.tunevault.test/album/quorvane" },
    };
    for (auto& [text, address] : links) {
        system->opened.clear();
        ASSERT_TRUE(clickLink(*web, text)) << text;
        ASSERT_TRUE(processUntil([&] { return !system->opened.empty(); }, 30000)) << text;
        settle(1000);
        EXPECT_EQ(system->opened, std::vector<std::string> { address }) << "handed over once";
        EXPECT_FALSE(web->isLoading()) << text;
        EXPECT_EQ(web->request()->absoluteString(), landing) << text;
        EXPECT_EQ(web->title(), "Quorvane ad landing page") << text;
        EXPECT_EQ(browser->topNavItem()->title(), "Quorvane ad landing page") << text;
        EXPECT_EQ(browser->spinner(), nullptr) << text;
        EXPECT_EQ(browser->bottomToolbar()->items()[4]->title(), "Refresh") << text;
    }
    // "Open in Browser" hands over the page, not the mail link.
    system->opened.clear();
    browser->launchSafari();
    EXPECT_EQ(system->opened, std::vector<std::string> { landing });
}

TEST_F(LandingInWindow, AfterAFailedLoadThePageShownBeforeStaysWithItsTitleAndHistory)
{
    // Every wait is on the engine: its loads started and finished, its
    // answers to scripts, its frames drawn, the alert its failure brings;
    // the limits only end a wait that would never end.
    constexpr int limit = 60000;
    auto host = std::make_shared<WebHost>();
    auto browser = AdlarkModalController::create<AdlarkBrowserController>();
    browser->setAdlarkDelegate(host);
    browser->presentBrowserFromView(adView, *kit::URL::withString("http://ads.example.test/landing.html"));
    auto* web = browser->webView();
    PageSignals page(static_cast<qtshell::QtWebEngine&>(web->engine()));
    auto title = [&] { return browser->topNavItem()->title(); };
    // The page has settled on `expected`: every load it started has finished.
    auto shows = [&](const std::string& expected) {
        return processUntil([&] { return page.settled() && !web->isLoading() && title() == expected; }, limit);
    };
    auto pageTitle = [&] {
        std::string answer = "?";
        web->stringByEvaluatingJavaScriptFromString("document.title", [&](std::string t) { answer = t; });
        processUntil([&] { return answer != "?"; }, limit);
        return answer;
    };
    // A person's click on a link of the page, once the page is on screen.
    auto click = [&](const std::string& text) { return drawn(*web, limit) && clickLink(*web, text); };
    auto dismissAlert = [&] {
        EXPECT_TRUE(processUntil([&] { return app.frontPopup() != nullptr; }, limit)) << "the failure's alert";
        if (auto* alert = app.frontPopup()) {
            EXPECT_EQ(alert->title(), "Whoops");
            alert->dismissWithClickedButtonIndex(0, true);
        }
    };
    ASSERT_TRUE(shows("Quorvane ad landing page")) << title() << " started " << page.started << " finished " << page.finished
                                                   << " loading " << web->isLoading();
    ASSERT_TRUE(processUntil([&] { return !browser->presentationAnimationInProgress(); }, limit));
    ASSERT_TRUE(click("Next page"));
    ASSERT_TRUE(shows("Second landing page")) << title();
    ASSERT_TRUE(web->canGoBack());

    // A host that cannot be found: the alert comes once the engine is back
    // on the page shown before.
    const int finishedBefore = page.finished;
    web->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString("http://nowhere.quorvane.invalid/")));
    dismissAlert();
    ASSERT_TRUE(shows("Second landing page")) << title();
    EXPECT_GT(page.finished, finishedBefore) << "the engine saw the failed load end";
    EXPECT_EQ(web->title(), "Second landing page");
    EXPECT_EQ(pageTitle(), "Second landing page") << "the page shown is the one before";
    EXPECT_TRUE(web->canGoBack());
    EXPECT_FALSE(web->canGoForward()) << "the failed address is no page to go forward to";
    EXPECT_EQ(browser->bottomToolbar()->items()[0]->title(), "back");
    EXPECT_EQ(browser->bottomToolbar()->items()[2]->title(), "forward_disable");
    ASSERT_TRUE(click("Back to the first page")) << "its links work";
    ASSERT_TRUE(shows("Quorvane ad landing page")) << title();

    // A connection dropped in the middle of a page.
    ASSERT_TRUE(click("A page that fails"));
    dismissAlert();
    ASSERT_TRUE(shows("Quorvane ad landing page")) << title();
    EXPECT_EQ(pageTitle(), "Quorvane ad landing page");
    EXPECT_FALSE(web->canGoForward());
    // Back passes over the failed address to the page before.
    web->goBack();
    ASSERT_TRUE(shows("Second landing page")) << title();
    EXPECT_TRUE(web->canGoForward());
    web->goForward();
    ASSERT_TRUE(shows("Quorvane ad landing page")) << title();
    EXPECT_FALSE(web->canGoForward()) << "and forward over it to nothing";
    ASSERT_TRUE(click("Next page"));
    ASSERT_TRUE(shows("Second landing page")) << title();
}

TEST_F(LandingInWindow, TheBrowserZoomsAWidePageOutToShowItsWholeWidth)
{
    auto host = std::make_shared<WebHost>();
    auto browser = AdlarkModalController::create<AdlarkBrowserController>();
    browser->setAdlarkDelegate(host);
    browser->presentBrowserFromView(adView, *kit::URL::withString("http://ads.example.test/landing-wide.html"));
    auto* web = browser->webView();
    auto& engine = static_cast<qtshell::QtWebEngine&>(web->engine());
    ASSERT_TRUE(processUntil([&] { return browser->topNavItem()->title() == "Wide landing page"; }, 60000));
    ASSERT_TRUE(processUntil([&] { return engine.page()->zoomFactor() < 0.9; }, 30000)) << engine.page()->zoomFactor();
    // The width the page is shown at: its view's, or the model's while no peer shows it.
    auto* shown = QWebEngineView::forPage(engine.page());
    const double viewWidth = shown && shown->isVisible() ? shown->width() : double(web->frame().width());
    std::string content;
    web->stringByEvaluatingJavaScriptFromString("String(document.documentElement.scrollWidth)", [&](std::string w) { content = w; });
    ASSERT_TRUE(processUntil([&] { return !content.empty(); }, 30000));
    EXPECT_NEAR(engine.page()->zoomFactor(), viewWidth / std::stod(content), 0.02) << content;

    // A page that fits keeps its size.
    web->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString("http://ads.example.test/landing2.html")));
    ASSERT_TRUE(processUntil([&] { return browser->topNavItem()->title() == "Second landing page"; }, 30000));
    settle(500);
    EXPECT_DOUBLE_EQ(engine.page()->zoomFactor(), 1.0);
}

// A landing page that closes takes its page, and the renderer with it, when
// no other page is left; a page nobody sees is let go (frozen, then
// discarded) once its delay on kit's clock has run, the renderer ending with
// it, and comes back as it was when it is seen again: address, title, history.
TEST_F(LandingInWindow, PagesNobodySeesAreLetGoAndComeBackAsTheyWere)
{
    constexpr int limit = 60000;
    using State = QWebEnginePage::LifecycleState;
    auto& loop = kit::RunLoop::main();
    loop.useManualClock();
    // The pages' own loads take real time; the openings and closings are on kit's clock.
    auto until = [&](const std::function<bool()>& done) {
        return processUntil([&] {
            loop.advance(0.05);
            return done();
        }, limit);
    };

    auto host = std::make_shared<WebHost>();
    auto browser = AdlarkModalController::create<AdlarkBrowserController>();
    browser->setAdlarkDelegate(host);
    browser->presentBrowserFromView(adView, *kit::URL::withString("http://ads.example.test/landing.html"));
    auto* landing = &static_cast<qtshell::QtWebEngine&>(browser->webView()->engine());
    ASSERT_TRUE(until([&] {
        return !browser->presentationAnimationInProgress() && landing->page() && landing->page()->renderProcessPid() > 0
            && browser->topNavItem()->title() == "Quorvane ad landing page";
    }));
    const qint64 landingRenderer = landing->page()->renderProcessPid();
    browser->topToolbar()->leftButtonView()->sendAction(); // Done
    ASSERT_TRUE(until([&] { return host->dismissed == 1; }));
    EXPECT_EQ(browser->webView(), nullptr) << "the page went with the panel";
    EXPECT_TRUE(processUntil([&] { return !processRuns(landingRenderer); }, limit)) << "the landing page's renderer";

    // A page in the window, with a history of two.
    auto web = kit::View::create<kit::WebView>(kit::Rect { 0, 20, 320, 364 });
    window->addSubview(web);
    auto& engine = static_cast<qtshell::QtWebEngine&>(web->engine());
    auto shows = [&](const std::string& title) {
        return processUntil([&] { return engine.page() && !web->isLoading() && web->title() == title; }, limit);
    };
    web->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString("http://ads.example.test/landing.html")));
    ASSERT_TRUE(shows("Quorvane ad landing page"));
    web->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString("http://ads.example.test/landing2.html")));
    ASSERT_TRUE(shows("Second landing page"));
    ASSERT_TRUE(web->canGoBack());
    auto* page = engine.page();
    std::vector<State> states;
    QObject::connect(page, &QWebEnginePage::lifecycleStateChanged, page, [&](State state) { states.push_back(state); });
    const qint64 renderer = page->renderProcessPid();
    ASSERT_TRUE(processRuns(renderer));

    // The window closes: the page is kept until its delay has run.
    screen.hide();
    ASSERT_TRUE(processUntil([&] { return !page->isVisible(); }, limit));
    loop.advance(qtshell::QtWebEngine::pageReleaseDelay - 1);
    settle(200);
    EXPECT_EQ(page->lifecycleState(), State::Active);
    loop.advance(1.5);
    ASSERT_TRUE(processUntil([&] { return page->lifecycleState() == State::Discarded; }, limit)) << int(page->lifecycleState());
    EXPECT_EQ(states, (std::vector<State> { State::Frozen, State::Discarded }));
    EXPECT_TRUE(processUntil([&] { return !processRuns(renderer); }, limit)) << "no page is left for the renderer";
    EXPECT_EQ(web->title(), "Second landing page");
    EXPECT_EQ(web->request()->absoluteString(), "http://ads.example.test/landing2.html");
    EXPECT_TRUE(web->canGoBack());

    // Seen again: the same page, reloaded, with its history.
    screen.show();
    ASSERT_TRUE(processUntil([&] { return page->lifecycleState() == State::Active && page->renderProcessPid() > 0; }, limit));
    ASSERT_TRUE(shows("Second landing page"));
    std::string shown;
    web->stringByEvaluatingJavaScriptFromString("document.title", [&](std::string t) { shown = t.empty() ? "-" : t; });
    ASSERT_TRUE(processUntil([&] { return !shown.empty(); }, limit));
    EXPECT_EQ(shown, "Second landing page");
    web->goBack();
    ASSERT_TRUE(shows("Quorvane ad landing page"));
    EXPECT_TRUE(web->canGoForward());
}

} // namespace
