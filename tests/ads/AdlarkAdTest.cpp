#include "TestSupport.h"
#include "tests/support/RecordingPlatform.h"

#include "ads/AdlarkAd.h"
#include "ads/AdlarkDelegate.h"
#include "ads/AdlarkImageCache.h"
#include "ads/AdlarkLocationManager.h"
#include "kit/ui/Application.h"
#include "kit/core/DeviceInfo.h"
#include "kit/core/FileInfo.h"

#include <filesystem>

using namespace adtest;

namespace {

class TestSource : public AdlarkDelegate {
public:
    std::optional<std::string> publisher = std::string("text");
    std::optional<std::string> publisherId() override { return publisher; }

    std::optional<bool> embedded;
    std::optional<bool> useEmbeddedWebView() override { return embedded; }
    bool implementsPresent = false;
    std::vector<std::string> presented;
    bool presentWebView(const std::string& url) override
    {
        if (implementsPresent)
            presented.push_back(url);
        return implementsPresent;
    }
    std::optional<std::string> endpoint;
    std::optional<std::string> adserverEndpoint() override { return endpoint; }
};

// Everything answered.
class FullSource : public TestSource {
public:
    std::optional<kit::Color> adBackgroundColor() override { return kit::Color::black(); }
    std::optional<kit::Color> adTextColor() override { return kit::Color::rgba(1, 0, 0); }
    std::optional<bool> useGraySpinner() override { return true; }
    std::optional<bool> useTestAd() override { return true; }
    std::optional<bool> mayAskForLocation() override { return true; }
    std::optional<std::optional<kit::Location>> location() override { return hostLocation; }
    std::optional<std::string> postalCode() override { return std::string("10115"); }
    std::optional<std::string> areaCode() override { return std::string("030"); }
    std::optional<std::string> gender() override { return std::string("f"); }
    std::optional<std::string> keywords() override { return std::string("rock & roll"); }
    std::optional<std::string> searchString() override { return std::string("a=b"); }
    std::optional<std::chrono::system_clock::time_point> dateOfBirth() override
    {
        std::tm t {};
        t.tm_year = 1985 - 1900;
        t.tm_mon = 2;
        t.tm_mday = 7;
        t.tm_hour = 12;
        return std::chrono::system_clock::from_time_t(mktime(&t));
    }
    std::optional<kit::Location> hostLocation = kit::Location { 52.5, 13.25 };
};

// The ad's owner: records every message and may drop the ad inside one.
struct Owner {
    std::shared_ptr<AdlarkAd> ad;
    std::vector<std::string> messages;
    bool dropOnFailure = false;
};

std::shared_ptr<AdlarkAd> makeAd(const std::shared_ptr<Owner>& owner, const std::shared_ptr<AdlarkDelegate>& source)
{
    auto ad = AdlarkAd::create();
    Owner* o = owner.get();
    ad->setDataSource(source);
    ad->setDelegate(owner);
    ad->requestSuccessSelector = [o](AdlarkAd&) { o->messages.push_back("ready"); };
    ad->requestFailureSelector = [o](AdlarkAd& a) {
        o->messages.push_back("failed");
        if (o->dropOnFailure && o->ad.get() == &a) {
            o->ad->setDelegate({});
            o->ad.reset();
        }
    };
    ad->clickSuccessSelector = [o](AdlarkAd&) { o->messages.push_back("click ok"); };
    ad->clickFailureSelector = [o](AdlarkAd&) { o->messages.push_back("click failed"); };
    ad->displayCanvasSelector = [o](AdlarkAd&, const std::string& url) { o->messages.push_back("canvas " + url); };
    ad->displayEmbeddedBrowserSelector = [o](AdlarkAd&, const std::string& url) { o->messages.push_back("browser " + url); };
    owner->ad = ad;
    return ad;
}

class AdlarkAdTest : public LoopTest {
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        std::error_code ec;
        for (auto& entry : std::filesystem::directory_iterator(AdlarkImageCache::cacheFolder(), ec))
            std::filesystem::remove(entry.path(), ec);
        kit::Platform::install(system);
    }
    void TearDown() override
    {
        kit::Platform::install(nullptr);
        LoopTest::TearDown();
    }

    // Runs the loop until the owner has heard something, noting each state seen.
    std::vector<int> runToMessage(const std::shared_ptr<AdlarkAd>& ad, size_t messages = 1)
    {
        std::vector<int> states { ad->state() };
        waitFor([&] {
            if (ad->state() != states.back())
                states.push_back(ad->state());
            return owner->messages.size() >= messages;
        });
        if (ad->state() != states.back())
            states.push_back(ad->state());
        return states;
    }
    void settle() { waitFor([] { return false; }, 0.2); }
    static void cacheBrowserIcons()
    {
        auto icon = kit::Image::fromRGBA(1, 1, { 1, 2, 3, 255 });
        for (auto name : { "back", "back_disable", "forward", "forward_disable" })
            AdlarkImageCache::sharedCache().storeImage(*icon, name);
    }

    std::shared_ptr<Owner> owner = std::make_shared<Owner>();
    std::shared_ptr<TestSource> source = std::make_shared<TestSource>();
    std::shared_ptr<testsupport::RecordingPlatform> system = std::make_shared<testsupport::RecordingPlatform>();
};

} // namespace

TEST(AdlarkAdQuery, EscapesWhatURLsCannotHold)
{
    struct Case {
        std::string in, out;
    } cases[] = {
        { "plain-Text_1.~", "plain-Text_1.~" },
        { "a b\"<>{}|\\^`[]", "a%20b%22%3C%3E%7B%7D%7C%5C%5E%60%5B%5D" },
        { "&=?/:+;@$,!*'()", "&=?/:+;@$,!*'()" },
        { "100%#x", "100%25%23x" },
        { "tab\tnl\n", "tab%09nl%0A" },
        { "café", "caf%C3%A9" },
    };
    for (auto& c : cases)
        EXPECT_EQ(AdlarkAd::escape(c.in), c.out) << c.in;

    EXPECT_EQ(AdlarkAd::queryStringFromDictionary({}), "");
    EXPECT_EQ(AdlarkAd::queryStringFromDictionary({ { "s", "pub" } }), "s=pub");
    EXPECT_EQ(AdlarkAd::queryStringFromDictionary({ { "d[pc]", "1 2" }, { "k", "a&b=c" } }), "d%5Bpc%5D=1%202&k=a&b=c");
}

TEST_F(AdlarkAdTest, ParametersOfAHostThatAnswersOnlyThePublisher)
{
    auto ad = makeAd(owner, source);
    auto params = ad->buildParams();
    std::map<std::string, std::string> expected = { { "s", "text" }, { "f", "jsonp" }, { "v", "20090203-iSDK-3f1986e5ead93fcd" },
        { "ex", "1" }, { "client_sdk", "1" }, { "isu", *kit::DeviceInfo::current().uniqueIdentifier } };
    EXPECT_EQ(params, expected);
    EXPECT_EQ(ad->backgroundColor(), kit::Color::rgba(0.443f, 0.514f, 0.631f, 1));
    EXPECT_EQ(ad->textColor(), kit::Color::white());
    EXPECT_EQ(ad->spinnerStyle(), 1);
}

TEST_F(AdlarkAdTest, ParametersOfAHostThatAnswersEverything)
{
    auto full = std::make_shared<FullSource>();
    auto ad = makeAd(owner, full);
    auto params = ad->buildParams();
    EXPECT_EQ(params["m"], "test");
    EXPECT_EQ(params["d[coord]"], "52.500000,13.250000");
    EXPECT_EQ(params.count("d[coord_timestamp]"), 0u);
    EXPECT_EQ(params["d[pc]"], "10115");
    EXPECT_EQ(params["d[ac]"], "030");
    EXPECT_EQ(params["d[gender]"], "f");
    EXPECT_EQ(params["d[dob]"], "19850307");
    EXPECT_EQ(params["search"], "a=b");
    EXPECT_EQ(params["k"], "rock & roll");
    EXPECT_EQ(ad->backgroundColor(), kit::Color::black());
    EXPECT_EQ(ad->textColor(), kit::Color::rgba(1, 0, 0));
    EXPECT_EQ(ad->spinnerStyle(), 2);

    // A host location of nothing sends no position, and the shared manager is not asked.
    full->hostLocation.reset();
    params = ad->buildParams();
    EXPECT_EQ(params.count("d[coord]"), 0u);
}

namespace {
class ManagerLocationSource : public TestSource {
public:
    std::optional<bool> mayAskForLocation() override { return true; }
};
class FixedSource : public kit::LocationSource {
public:
    bool enabled() const override { return on; }
    void start() override { ++starts; }
    void stop() override { }
    bool on = true;
    int starts = 0;
};
} // namespace

TEST_F(AdlarkAdTest, PositionFromTheSharedLocationManager)
{
    auto fixed = std::make_shared<FixedSource>();
    kit::Platform::current().setLocationSource(fixed);
    auto& manager = AdlarkLocationManager::sharedManager();
    manager.setLocationString(std::string("1.500000,2.500000"));
    manager.setLastUpdated(1234567890.25);
    auto host = std::make_shared<ManagerLocationSource>();
    auto ad = makeAd(owner, host);
    auto params = ad->buildParams();
    EXPECT_EQ(params["d[coord]"], "1.500000,2.500000");
    EXPECT_EQ(params["d[coord_timestamp]"], "1234567890.250000");
    EXPECT_EQ(fixed->starts, 1); // stale: a fix is sought for the next request

    fixed->on = false;
    params = ad->buildParams();
    EXPECT_EQ(params.count("d[coord]"), 0u);
    kit::Platform::current().setLocationSource(nullptr);
    manager.setLocationString(std::nullopt);
    manager.setLastUpdated(std::nullopt);
}

TEST_F(AdlarkAdTest, TextAdFromRequestToReady)
{
    auto ad = makeAd(owner, source);
    EXPECT_EQ(ad->state(), 0);
    ad->request();
    EXPECT_EQ(ad->state(), 1);
    EXPECT_EQ(ad->activeDownloadCount(), 4u);
    auto states = runToMessage(ad);
    EXPECT_EQ(owner->messages, (std::vector<std::string> { "ready" }));
    EXPECT_EQ(states, (std::vector<int> { 1, 3, 4, 5 }));
    EXPECT_TRUE(ad->readyForDisplay());
    EXPECT_EQ(ad->medium(), 0);
    EXPECT_EQ(ad->text(), "Try the Quorvane test ad");
    EXPECT_EQ(ad->action(), "url");
    EXPECT_EQ(ad->userString(), "Quorvane test ad");
    ASSERT_TRUE(ad->userImage());
    ASSERT_TRUE(ad->actionImage());
    EXPECT_EQ(ad->userImage()->width(), 16);
    ad->request(); // only once
    EXPECT_EQ(ad->state(), 5);

    auto requests = adnet().since("/ad_source.php");
    ASSERT_EQ(requests.size(), 1u);
    auto& r = requests[0];
    EXPECT_EQ(r.query, AdlarkAd::queryStringFromDictionary(ad->buildParams()));
    EXPECT_EQ(r.param("s"), "text");
    EXPECT_EQ(r.param("f"), "jsonp");
    EXPECT_EQ(r.param("v"), "20090203-iSDK-3f1986e5ead93fcd");
    EXPECT_EQ(r.param("ex"), "1");
    EXPECT_EQ(r.param("client_sdk"), "1");
    EXPECT_EQ(r.param("isu"), r.header("X-ADLARK-ISU"));
    EXPECT_EQ(r.header("USER-AGENT"), AdlarkURLDownload::userAgent());
    EXPECT_EQ(r.header("Host"), "ads.example.test");

    auto& cache = AdlarkImageCache::sharedCache();
    for (auto name : { "back", "back_disable", "forward", "forward_disable", "url" })
        EXPECT_TRUE(cache.imageIsInCache(name)) << name;
    EXPECT_FALSE(cache.imageIsInCache("userImage"));
    EXPECT_FALSE(cache.imageIsInCache("small"));
    EXPECT_EQ(adnet().since("/static/iphone/img/small.png").size(), 1u);
}

TEST_F(AdlarkAdTest, CachedIconsAreNotFetchedAgain)
{
    cacheBrowserIcons();
    AdlarkImageCache::sharedCache().storeImage(*kit::Image::fromRGBA(1, 1, { 9, 9, 9, 255 }), "url");
    auto ad = makeAd(owner, source);
    ad->request();
    EXPECT_EQ(ad->state(), 3); // straight to the ad request
    runToMessage(ad);
    EXPECT_EQ(owner->messages, (std::vector<std::string> { "ready" }));
    EXPECT_EQ(ad->actionImage()->pixels()[0], 9);
    for (auto& r : adnet().since())
        EXPECT_TRUE(r.path == "/ad_source.php" || r.path == "/static/iphone/img/small.png") << r.path;
}

TEST_F(AdlarkAdTest, NoBrowserIconsWithoutTheEmbeddedBrowser)
{
    source->embedded = false;
    auto ad = makeAd(owner, source);
    ad->request();
    EXPECT_EQ(ad->state(), 3);
    runToMessage(ad);
    EXPECT_EQ(owner->messages, (std::vector<std::string> { "ready" }));
    EXPECT_TRUE(adnet().since("/static/iphone/browser/back.png").empty());
    EXPECT_FALSE(AdlarkImageCache::sharedCache().imageIsInCache("back"));
}

TEST_F(AdlarkAdTest, BannerAdsAndTheirAccountingPixel)
{
    cacheBrowserIcons();
    struct Case {
        std::string scenario;
        size_t pixelRequests;
    } cases[] = { { "banner", 1 }, { "banner-nopixel", 0 }, { "banner-badpixel", 1 }, { "banner-slowpictures", 1 },
        { "banner-slowpixel", 1 }, { "both", 1 } };
    for (auto& c : cases) {
        adnet().mark();
        owner->messages.clear();
        source->publisher = c.scenario;
        auto ad = makeAd(owner, source);
        ad->request();
        runToMessage(ad);
        settle();
        EXPECT_EQ(owner->messages, (std::vector<std::string> { "ready" })) << c.scenario;
        EXPECT_EQ(ad->medium(), 1) << c.scenario;
        ASSERT_TRUE(ad->userImage()) << c.scenario;
        EXPECT_EQ(ad->userImage()->width(), 320);
        EXPECT_EQ(adnet().since("/pixel.gif").size(), c.pixelRequests) << c.scenario;
        EXPECT_EQ(ad->activeDownloadCount(), 0u);
    }
}

TEST_F(AdlarkAdTest, EveryFailureEndsInOneFailureMessage)
{
    for (std::string scenario : { "status404", "status500", "reset", "notjson", "empty", "huge", "no-url", "no-action",
             "no-text", "no-picture", "badimage", "badicon", "empty-banner" }) {
        for (bool drop : { false, true }) {
            owner->messages.clear();
            owner->dropOnFailure = drop;
            source->publisher = scenario;
            auto ad = makeAd(owner, source);
            std::weak_ptr<AdlarkAd> watch = ad;
            ad->request();
            ad.reset(); // the owner holds it now
            waitFor([&] { return !owner->messages.empty(); });
            settle();
            EXPECT_EQ(owner->messages, (std::vector<std::string> { "failed" })) << scenario;
            if (drop) {
                EXPECT_TRUE(watch.expired()) << scenario;
            } else {
                ASSERT_TRUE(owner->ad);
                EXPECT_EQ(owner->ad->state(), 6);
                EXPECT_FALSE(owner->ad->hasDownloadSet());
                EXPECT_FALSE(owner->ad->readyForDisplay());
            }
        }
    }
}

TEST_F(AdlarkAdTest, SlowAnswerTimesOut)
{
    cacheBrowserIcons();
    source->publisher = "slow";
    auto ad = makeAd(owner, source);
    ad->request();
    ASSERT_TRUE(waitFor([&] { return !adnet().since("/ad_source.php").empty(); }));
    kit::RunLoop::main().advance(59);
    EXPECT_TRUE(owner->messages.empty());
    kit::RunLoop::main().advance(1);
    EXPECT_EQ(owner->messages, (std::vector<std::string> { "failed" }));
}

TEST_F(AdlarkAdTest, SynchronousFailuresMayDropTheAd)
{
    cacheBrowserIcons();
    owner->dropOnFailure = true;
    source->endpoint = std::string("not an address");
    auto ad = makeAd(owner, source);
    std::weak_ptr<AdlarkAd> watch = ad;
    ad->request();
    ad.reset();
    EXPECT_EQ(owner->messages, (std::vector<std::string> { "failed" }));
    EXPECT_TRUE(watch.expired());

    owner->messages.clear();
    source->endpoint.reset();
    source->publisher.reset(); // no publisher: no request at all
    adnet().mark();
    ad = makeAd(owner, source);
    ad->request();
    ad.reset();
    EXPECT_EQ(owner->messages, (std::vector<std::string> { "failed" }));
    settle();
    EXPECT_TRUE(adnet().since().empty());
}

TEST_F(AdlarkAdTest, ClicksOpenTheLandingPageByAction)
{
    cacheBrowserIcons();
    struct Case {
        std::string scenario;
        std::optional<bool> embedded;
        bool implementsPresent;
        std::vector<std::string> messages;
        std::vector<std::string> systemURLs;
        std::vector<std::string> presented;
    } cases[] = {
        { "text", std::nullopt, false, { "click ok", "browser http://ads.example.test/landing.html" }, {}, {} },
        { "text", true, false, { "click ok", "browser http://ads.example.test/landing.html" }, {}, {} },
        { "text", false, true, { "click ok" }, {}, { "http://ads.example.test/landing.html" } },
        { "text", false, false, { "click ok" }, { "http://ads.example.test/landing.html" }, {} },
        { "canvas", std::nullopt, false, { "click ok", "canvas http://media.example.test/static/iphone/canvas.html" }, {}, {} },
        { "app", std::nullopt, false, { "click ok" }, { "quorvane-app://open/ad" }, {} },
        { "click-noredirect", std::nullopt, false, { "click failed" }, {}, {} },
        { "click-empty", std::nullopt, false, { "click failed" }, {}, {} },
        { "click-notjson", std::nullopt, false, { "click failed" }, {}, {} },
        { "click-404", std::nullopt, false, { "click failed" }, {}, {} },
        { "no-jsonp", std::nullopt, false, { "click failed" }, {}, {} },
    };
    for (auto& c : cases) {
        source->publisher = c.scenario;
        source->embedded = c.embedded;
        source->implementsPresent = c.implementsPresent;
        source->presented.clear();
        system->opened.clear();
        owner->messages.clear();
        auto ad = makeAd(owner, source);
        ad->request();
        runToMessage(ad);
        ASSERT_EQ(owner->messages, (std::vector<std::string> { "ready" })) << c.scenario;
        owner->messages.clear();
        adnet().mark();
        ad->click();
        EXPECT_TRUE(ad->readyForDisplay());
        EXPECT_TRUE(ad->state() == 7 || ad->state() == 5);
        waitFor([&] { return !owner->messages.empty(); });
        settle();
        EXPECT_EQ(owner->messages, c.messages) << c.scenario;
        EXPECT_EQ(system->opened, c.systemURLs) << c.scenario;
        EXPECT_EQ(source->presented, c.presented) << c.scenario;
        EXPECT_EQ(ad->state(), 5) << c.scenario;
        EXPECT_TRUE(ad->readyForDisplay());
        if (c.scenario != "no-jsonp") {
            auto clicks = adnet().since("/click.php");
            ASSERT_EQ(clicks.size(), 1u) << c.scenario;
            EXPECT_EQ(clicks[0].header("USER-AGENT"), AdlarkURLDownload::userAgent());
        }
    }
}

TEST_F(AdlarkAdTest, ADroppedAdCancelsItsDownloads)
{
    auto ad = makeAd(owner, source);
    ad->request();
    EXPECT_EQ(ad->activeDownloadCount(), 4u);
    owner->ad.reset();
    ad.reset();
    settle();
    EXPECT_TRUE(owner->messages.empty());
}

TEST_F(AdlarkAdTest, TextAdWithAPixelAddressSendsNoPixel)
{
    cacheBrowserIcons();
    source->publisher = "text-pixel";
    auto ad = makeAd(owner, source);
    ad->request();
    runToMessage(ad);
    settle();
    EXPECT_EQ(owner->messages, (std::vector<std::string> { "ready" }));
    EXPECT_EQ(ad->medium(), 0);
    EXPECT_FALSE(adnet().since("/ad_source.php").empty());
    EXPECT_TRUE(adnet().since("/pixel.gif").empty());
}

TEST_F(AdlarkAdTest, BannerWhosePixelAddressFailsAtOnceBecomesReady)
{
    // "not a url" fails inside the download's start, before the ad holds it.
    cacheBrowserIcons();
    source->publisher = "banner-badurl";
    auto ad = makeAd(owner, source);
    ad->request();
    runToMessage(ad);
    EXPECT_EQ(owner->messages, (std::vector<std::string> { "ready" }));
    EXPECT_EQ(ad->state(), 5);
    EXPECT_EQ(ad->medium(), 1);
    EXPECT_EQ(ad->activeDownloadCount(), 0u);
}

TEST_F(AdlarkAdTest, ACachedIconThatNoLongerDecodesIsFetchedAgain)
{
    cacheBrowserIcons();
    auto& cache = AdlarkImageCache::sharedCache();
    ASSERT_TRUE(kit::writeWholeFile(AdlarkImageCache::cacheFolder() + "/url", { 'j', 'u', 'n', 'k' }));
    ASSERT_TRUE(cache.imageIsInCache("url"));
    auto ad = makeAd(owner, source);
    ad->request();
    runToMessage(ad);
    EXPECT_EQ(owner->messages, (std::vector<std::string> { "ready" }));
    ASSERT_TRUE(ad->actionImage());
    EXPECT_EQ(ad->actionImage()->width(), 16);
    EXPECT_EQ(adnet().since("/static/iphone/img/url.png").size(), 1u);
    EXPECT_TRUE(cache.fetchImageNamed("url")); // and stored again
}

TEST_F(AdlarkAdTest, HostileAnswersAndPicturesFailTheAd)
{
    cacheBrowserIcons();
    for (std::string scenario : { "gzip-bomb", "hostile-gif-frames", "hostile-jpeg-scans", "hostile-jpeg-huge",
             "hostile-png-huge", "hostile-png-truncated", "hostile-jpeg-truncated", "hostile-gif-truncated",
             "icon-gif-frames", "icon-png-huge", "icon-jpeg-truncated" }) {
        owner->messages.clear();
        source->publisher = scenario;
        auto ad = makeAd(owner, source);
        ad->request();
        runToMessage(ad);
        settle();
        EXPECT_EQ(owner->messages, (std::vector<std::string> { "failed" })) << scenario;
        EXPECT_EQ(ad->state(), 6) << scenario;
        EXPECT_FALSE(ad->userImage() && ad->medium() == 1) << scenario;
        if (scenario.rfind("icon-", 0) == 0) {
            // Never taken as an icon, never cached.
            EXPECT_FALSE(ad->actionImage()) << scenario;
            EXPECT_FALSE(AdlarkImageCache::sharedCache().imageIsInCache(scenario.substr(5))) << scenario;
        }
    }
}
