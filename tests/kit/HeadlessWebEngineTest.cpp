#include "kit/web/HeadlessWebEngine.h"

#include "kit/core/RunLoop.h"
#include "kit/web/WebView.h"
#include "kit/web/WebViewErrors.h"
#include "tests/support/PageServer.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

TEST(WebAddress, MadeOnlyFromAddressCharacters)
{
    EXPECT_TRUE(kit::URL::withString("http://h.test/a%20b?x=1&y=[2]#f"));
    EXPECT_FALSE(kit::URL::withString("http://h.test/a b"));
    EXPECT_FALSE(kit::URL::withString("http://h.test/%zz"));
    EXPECT_FALSE(kit::URL::withString("http://h.test/%2"));
    EXPECT_FALSE(kit::URL::withString("http://h.test/\"q\""));
    EXPECT_EQ(kit::URL::withString("HTTP://H.test")->scheme(), "http");
    EXPECT_EQ(kit::URL::withString("http://H.test:81/x")->host(), "H.test");
}

TEST(PageReading, TitleAndLinks)
{
    const std::string html = "<HTML><head><Title>\n  A &amp; B &#x263A;  </title></head><body>"
                             "<a href=\"/x.torrent\">X <i>file</i></a>"
                             "<a class=k href='rel/y.html?a=1&amp;b=2'>Y</a>"
                             "<a href=z.html>Z</a>"
                             "<a name=anchor>no href</a><a href=\"#top\">top</a><a href=\"javascript:go()\">js</a>"
                             "<abbr>not a link</abbr>";
    EXPECT_EQ(kit::HeadlessWebEngine::titleOf(html), "A & B \xE2\x98\xBA");
    EXPECT_EQ(kit::HeadlessWebEngine::titleOf("<p>untitled</p>"), "");
    // References to no character read as U+FFFD.
    EXPECT_EQ(kit::HeadlessWebEngine::titleOf("<title>&#0;&#xD800;&#x110000;&#99999999;</title>"),
        "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    auto links = kit::HeadlessWebEngine::linksOf(html, *kit::URL::withString("http://h.test/dir/page.html"));
    ASSERT_EQ(links.size(), 3u);
    EXPECT_EQ(links[0].text, "X file");
    EXPECT_EQ(links[0].url.absoluteString(), "http://h.test/x.torrent");
    EXPECT_EQ(links[1].url.absoluteString(), "http://h.test/dir/rel/y.html?a=1&b=2");
    EXPECT_EQ(links[2].url.absoluteString(), "http://h.test/dir/z.html");
}

// Records what the delegate hears, in order.
struct Recorder : kit::WebViewDelegate {
    std::vector<std::string> events;
    bool allow { true };
    std::string refuse; // this address is refused
    bool webViewShouldStartLoadWithRequest(kit::WebView&, const kit::URLRequest& r, kit::WebViewNavigationType t) override
    {
        events.push_back(std::string("should ") + kit::navigationTypeName(t) + " " + r.absoluteString());
        return allow && r.absoluteString() != refuse;
    }
    void webViewDidStartLoad(kit::WebView&) override { events.push_back("start"); }
    void webViewDidFinishLoad(kit::WebView& v) override { events.push_back("finish " + v.title()); }
    void webViewDidFailLoadWithError(kit::WebView&, const kit::WebError& e) override
    {
        events.push_back("fail " + std::to_string(e.code));
    }
};

class HeadlessEngine : public ServedTest {
protected:
    void SetUp() override
    {
        ServedTest::SetUp();
        m_view = kit::View::create<kit::WebView>(kit::Rect { 0, 0, 320, 400 });
        m_view->setDelegate(m_recorderHeld);
    }
    void TearDown() override
    {
        m_view.reset();
    }
    void load(const std::string& address)
    {
        m_view->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString(address)));
        ASSERT_TRUE(waitForLoad(*m_view));
    }
    kit::HeadlessWebEngine& engine() { return static_cast<kit::HeadlessWebEngine&>(m_view->engine()); }

    std::shared_ptr<Recorder> m_recorderHeld { std::make_shared<Recorder>() };
    Recorder& m_recorder { *m_recorderHeld };
    std::shared_ptr<kit::WebView> m_view;
};

TEST_F(HeadlessEngine, TellsTheDelegateInABrowsersOrderAndKeepsHistory)
{
    load(siteAddress("/"));
    auto links = engine().links();
    ASSERT_GE(links.size(), 8u);
    EXPECT_EQ(links[1].text, "Second torrent");
    EXPECT_EQ(links[7].url.absoluteString(), siteAddress("/next.html"));
    engine().navigate(kit::URLRequest::requestWithURL(links[7].url), kit::WebViewNavigationType::LinkClicked);
    ASSERT_TRUE(waitForLoad(*m_view));
    EXPECT_TRUE(m_view->canGoBack());
    m_view->goBack();
    ASSERT_TRUE(waitForLoad(*m_view));
    EXPECT_TRUE(m_view->canGoForward());
    m_view->reload();
    ASSERT_TRUE(waitForLoad(*m_view));
    EXPECT_EQ(m_recorder.events,
        (std::vector<std::string> {
            "should other " + siteAddress("/"), "start", "finish Quorvane Test & Torrents",
            "should link " + siteAddress("/next.html"), "start", "finish Next Page",
            "should back-forward " + siteAddress("/"), "start", "finish Quorvane Test & Torrents",
            "should reload " + siteAddress("/"), "start", "finish Quorvane Test & Torrents",
        }));
    EXPECT_TRUE(m_view->canGoForward()) << "a reload keeps the forward history";
}

TEST_F(HeadlessEngine, RefusedLoadDoesNothing)
{
    m_recorder.allow = false;
    m_view->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString(siteAddress("/"))));
    EXPECT_FALSE(m_view->isLoading());
    EXPECT_FALSE(m_view->request());
    EXPECT_EQ(m_recorder.events.size(), 1u);
}

TEST_F(HeadlessEngine, NewLoadCancelsTheRunningOne)
{
    m_view->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString(siteAddress("/hang.html"))));
    load(siteAddress("/next.html"));
    EXPECT_EQ(m_recorder.events,
        (std::vector<std::string> { "should other " + siteAddress("/hang.html"), "start",
            "should other " + siteAddress("/next.html"), "fail -999", "start", "finish Next Page" }));
    EXPECT_FALSE(m_view->canGoBack()) << "a cancelled load leaves no history";
}

TEST_F(HeadlessEngine, RequestTimeOutRunsOnTheLoopsClock)
{
    m_view->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString(siteAddress("/hang.html")),
        kit::URLRequestCachePolicy::ReloadIgnoringLocalCacheData, 5));
    kit::RunLoop::main().advance(4.9);
    EXPECT_TRUE(m_view->isLoading());
    kit::RunLoop::main().advance(0.2);
    EXPECT_FALSE(m_view->isLoading());
    EXPECT_EQ(m_recorder.events.back(), "fail -1001") << "timed out";
}

TEST_F(HeadlessEngine, FailuresBeforeAndAfterStarting)
{
    m_view->loadRequest(kit::URLRequest::requestWithURL(std::nullopt));
    kit::RunLoop::main().advance(0);
    m_view->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString("ftp://h.test/file")));
    kit::RunLoop::main().advance(0);
    load("http://dead.quorvane.test/");
    EXPECT_EQ(m_recorder.events,
        (std::vector<std::string> { "fail -1000", "should other ftp://h.test/file",
            "should other http://dead.quorvane.test/", "start", "fail -1004" }))
        << "an address of another program is only asked about; a closed port cannot be connected to";
    load(siteAddress("/drop"));
    EXPECT_EQ(m_recorder.events.back(), "fail -1005") << "a connection that drops mid-page is lost";
}

TEST_F(HeadlessEngine, EveryRedirectIsAskedAbout)
{
    load(siteAddress("/redirect?to=/next.html"));
    EXPECT_EQ(m_recorder.events,
        (std::vector<std::string> { "should other " + siteAddress("/redirect?to=/next.html"), "start",
            "should other " + siteAddress("/next.html"), "finish Next Page" }));
    EXPECT_EQ(m_view->request()->absoluteString(), siteAddress("/next.html"));

    m_recorder.events.clear();
    m_recorder.refuse = siteAddress("/next.html");
    load(siteAddress("/redirect?to=/next.html"));
    EXPECT_EQ(m_recorder.events,
        (std::vector<std::string> { "should other " + siteAddress("/redirect?to=/next.html"), "start",
            "should other " + siteAddress("/next.html"), "fail -999" }));
}

TEST_F(HeadlessEngine, OtherProgramsAddressesAreAskedAboutAndNeverLoaded)
{
    for (auto* address : { "adlark://launch?url=http%3A%2F%2Fx.test%2F", "adlark://closecanvas", "mailto:a@b.test", "tel:123" }) {
        m_recorder.events.clear();
        m_view->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString(address)));
        engine().navigate(kit::URLRequest::requestWithURL(kit::URL::withString(address)), kit::WebViewNavigationType::LinkClicked);
        kit::RunLoop::main().advance(0);
        EXPECT_EQ(m_recorder.events,
            (std::vector<std::string> { std::string("should other ") + address, std::string("should link ") + address }));
        EXPECT_FALSE(m_view->isLoading());
    }
    load("about:blank");
    EXPECT_EQ(m_recorder.events.back(), "finish ");
    EXPECT_EQ(m_view->request()->absoluteString(), "about:blank");

    // An engine that reports the start of such an address anyway changes nothing.
    m_recorder.events.clear();
    for (auto* address : { "mailto:a@b.test", "tel:123", "itms://store.test/album" })
        m_view->engineDidStartLoad(kit::URLRequest::requestWithURL(kit::URL::withString(address)));
    EXPECT_FALSE(m_view->isLoading());
    EXPECT_EQ(m_view->request()->absoluteString(), "about:blank");
    EXPECT_TRUE(m_recorder.events.empty());

    EXPECT_FALSE(m_view->scalesPageToFit());
    m_view->setScalesPageToFit(true);
    EXPECT_TRUE(m_view->scalesPageToFit());
    EXPECT_TRUE(engine().scalesPageToFit()) << "recorded by the engine";
}

TEST_F(HeadlessEngine, ScriptsAnswerTheTitleAndTheTypesOfDeclaredGlobals)
{
    load(siteAddress("/next.html"));
    std::vector<std::string> answers;
    for (auto* script : { "document.title", " document.title; ", "document.body.innerHTML", "typeof(x)" })
        m_view->stringByEvaluatingJavaScriptFromString(script, [&](std::string s) { answers.push_back(s); });
    EXPECT_TRUE(answers.empty()) << "answers come on the loop, not from inside the call";
    kit::RunLoop::main().advance(0);
    EXPECT_EQ(answers, (std::vector<std::string> { "Next Page", "Next Page", "", "undefined" }));
    EXPECT_EQ(engine().evaluatedScripts().back(), "typeof(x)");
}

TEST(HeadlessScripts, TypeofFindsGlobalsThatTheScriptsDeclare)
{
    kit::RunLoop::main().reset();
    kit::RunLoop::main().useManualClock();
    auto view = kit::View::create<kit::WebView>();
    kit::HeadlessWebEngine engine(*view);
    // The page is read from a file address, so no server is needed.
    auto path = std::filesystem::temp_directory_path() / "quorvane-typeof.html";
    {
        std::ofstream out(path);
        out << "<html><head><script>var adlark = {}; function cb(a, b) {} var adlarkish = 1;</script></head>"
               "<body>var notInScript; function alsoNot() {}</body></html>";
    }
    engine.load(kit::URLRequest::requestWithURL(kit::URL::withString("file://" + path.string())));
    kit::RunLoop::main().advance(0);
    std::vector<std::string> answers;
    for (auto* script : { "typeof(adlark)", "typeof cb", "typeof(adl)", "typeof(notInScript)", "typeof(alsoNot)" })
        engine.evaluateJavaScript(script, [&](std::string s) { answers.push_back(s); });
    kit::RunLoop::main().advance(0);
    EXPECT_EQ(answers, (std::vector<std::string> { "object", "function", "undefined", "undefined", "undefined" }));
    std::filesystem::remove(path);
    kit::RunLoop::main().reset();
}

TEST(WebErrors, CurlAndEngineFailuresBecomeTheLoadersCodes)
{
    const std::pair<int, int> curl[] = { { 1, -1002 }, { 3, -1000 }, { 6, -1003 }, { 7, -1004 }, { 28, -1001 },
        { 18, -1005 }, { 52, -1005 }, { 56, -1005 }, { 47, -1007 }, { 63, -1103 }, { 35, -1200 }, { 60, -1202 },
        { 37, -1100 }, { 42, -999 }, { 99999, -1 } };
    for (auto [code, expected] : curl)
        EXPECT_EQ(kit::webErrorForCurlCode(code), expected) << "curl " << code;
    using D = kit::NetErrorDomain;
    const std::tuple<D, int, int> net[] = { { D::Internal, -3, -999 }, { D::Connection, -102, -1004 },
        { D::Dns, -105, -1003 }, { D::Connection, -106, -1009 }, { D::Connection, -118, -1001 },
        { D::Connection, -324, -1005 }, { D::Connection, -354, -1005 }, { D::Certificate, -201, -1201 }, { D::Certificate, -202, -1203 },
        { D::Certificate, -299, -1202 }, { D::Internal, -6, -1100 }, { D::Internal, -302, -1002 },
        { D::Internal, -300, -1000 }, { D::Internal, -8, -1103 }, { D::Dns, -999999, -1003 }, { D::Internal, -999999, -1 } };
    for (auto [domain, code, expected] : net)
        EXPECT_EQ(kit::webErrorForNetError(domain, code), expected) << "net " << code;
}

TEST(WebViewWithoutEngine, FailsEveryLoad)
{
    kit::TestEnvironment env; // no web engine
    auto view = kit::View::create<kit::WebView>();
    auto recorder = std::make_shared<Recorder>();
    view->setDelegate(recorder);
    view->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString("http://h.test/")));
    kit::RunLoop::main().advance(0);
    EXPECT_EQ(recorder->events,
        (std::vector<std::string> { "should other http://h.test/", "start", "fail " + std::to_string(kit::WebErrorNoEngine) }));
    kit::RunLoop::main().reset();
}

} // namespace
