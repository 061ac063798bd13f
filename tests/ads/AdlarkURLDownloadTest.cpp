#include "TestSupport.h"

#include "ads/AdlarkURLDownload.h"
#include "kit/core/DeviceInfo.h"

using namespace adtest;

namespace {

struct Receiver {
    std::vector<std::string> messages;
    std::string body;
};

class AdlarkURLDownloadTest : public LoopTest {
protected:
    std::shared_ptr<Receiver> receiver = std::make_shared<Receiver>();

    std::shared_ptr<AdlarkURLDownload> make(std::optional<std::string> identifier = std::nullopt)
    {
        auto d = AdlarkURLDownload::create();
        auto r = receiver.get();
        d->successSelector = [r](AdlarkURLDownload& dl) {
            r->messages.push_back("success " + dl.identifier().value_or("-"));
            if (dl.data())
                r->body.assign(dl.data()->begin(), dl.data()->end());
        };
        d->failureSelector = [r](AdlarkURLDownload& dl) { r->messages.push_back("failure " + dl.identifier().value_or("-")); };
        d->setDelegate(receiver);
        d->setIdentifier(std::move(identifier));
        return d;
    }
    bool settled() { return !receiver->messages.empty(); }
};

} // namespace

TEST(AdlarkURLDownloadAgent, FormatsTheUserAgent)
{
    EXPECT_EQ(AdlarkURLDownload::userAgentFor("iPhone", "iPhone OS", "2.2.1", "iPhone1,2"),
        "Mozilla/5.0 (iPhone; U; CPU iPhone OS 2_2_1 like Mac OS X; HW iPhone1,2; en-us) AppleWebKit/525.18.1 "
        "(KHTML, like Gecko) (Adlark-iSDK-20090203)");
    EXPECT_NE(AdlarkURLDownload::userAgentFor("m", "s", "3.0", "x").find("CPU s 3_0 like"), std::string::npos);
    EXPECT_NE(AdlarkURLDownload::userAgentFor("m", "s", "7", "").find("CPU s 7 like Mac OS X; HW ; en-us"), std::string::npos);
}

TEST_F(AdlarkURLDownloadTest, EmptyOrUnusableURLFailsInsideTheCall)
{
    for (std::string url : { "", "not a url" }) {
        receiver->messages.clear();
        auto d = make(std::string("icon"));
        d->loadContentsOfURLAtString(url);
        EXPECT_EQ(receiver->messages, (std::vector<std::string> { "failure icon" })) << url;
    }
    waitFor([] { return false; }, 0.1);
    EXPECT_TRUE(adnet().since().empty());
}

TEST_F(AdlarkURLDownloadTest, SendsBothHeadersAndTheBody)
{
    auto d = make();
    d->loadContentsOfURLAtString("http://ads.example.test/echo?body=payload");
    ASSERT_TRUE(waitFor([&] { return settled(); }));
    EXPECT_EQ(receiver->messages, (std::vector<std::string> { "success -" }));
    EXPECT_EQ(receiver->body, "payload");
    auto logged = adnet().since("/echo");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].header("USER-AGENT"), AdlarkURLDownload::userAgent());
    ASSERT_TRUE(kit::DeviceInfo::current().uniqueIdentifier);
    EXPECT_EQ(logged[0].header("X-ADLARK-ISU"), *kit::DeviceInfo::current().uniqueIdentifier);
    EXPECT_EQ(kit::DeviceInfo::current().uniqueIdentifier->size(), 40u);
}

TEST_F(AdlarkURLDownloadTest, NoIdentifierHeaderWhenTheDeviceHasNone)
{
    auto saved = kit::DeviceInfo::current();
    auto without = saved;
    without.uniqueIdentifier.reset();
    kit::DeviceInfo::set(without);
    auto d = make();
    d->loadContentsOfURLAtString("http://ads.example.test/echo?body=x");
    bool ok = waitFor([&] { return settled(); });
    kit::DeviceInfo::set(saved);
    ASSERT_TRUE(ok);
    auto logged = adnet().since("/echo");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_FALSE(logged[0].hasHeader("X-ADLARK-ISU"));
    EXPECT_TRUE(logged[0].hasHeader("USER-AGENT"));
}

TEST_F(AdlarkURLDownloadTest, StatusRule)
{
    struct Case {
        int status;
        std::string expected;
    } cases[] = { { 399, "success -" }, { 400, "failure -" }, { 404, "failure -" }, { 500, "failure -" }, { 200, "success -" } };
    for (auto& c : cases) {
        receiver->messages.clear();
        receiver->body.clear();
        auto d = make();
        d->loadContentsOfURLAtString("http://ads.example.test/status?code=" + std::to_string(c.status) + "&body=b");
        ASSERT_TRUE(waitFor([&] { return settled(); }));
        waitFor([] { return false; }, 0.05);
        EXPECT_EQ(receiver->messages, std::vector<std::string> { c.expected }) << c.status;
        if (c.expected.rfind("success", 0) == 0) {
            EXPECT_EQ(receiver->body, "b");
        }
    }
}

TEST_F(AdlarkURLDownloadTest, BodyBeyondTheCapFails)
{
    auto d = make();
    d->loadContentsOfURLAtString("http://ads.example.test/ad_source.php?s=huge");
    ASSERT_TRUE(waitFor([&] { return settled(); }));
    waitFor([] { return false; }, 0.1);
    EXPECT_EQ(receiver->messages, (std::vector<std::string> { "failure -" }));
}

TEST_F(AdlarkURLDownloadTest, TimesOutAfterSixtySeconds)
{
    auto d = make();
    d->loadContentsOfURLAtString("http://ads.example.test/ad_source.php?s=slow");
    ASSERT_TRUE(waitFor([&] { return !adnet().since("/ad_source.php").empty(); }));
    kit::RunLoop::main().advance(59.5);
    EXPECT_TRUE(receiver->messages.empty());
    kit::RunLoop::main().advance(0.5);
    EXPECT_EQ(receiver->messages, (std::vector<std::string> { "failure -" }));
}

TEST_F(AdlarkURLDownloadTest, CancelIsHarmlessAndSilencesTheDownload)
{
    auto fresh = make();
    fresh->cancel(); // never started

    auto running = make();
    running->loadContentsOfURLAtString("http://ads.example.test/echo?body=x");
    running->cancel();
    EXPECT_EQ(running->data(), nullptr);
    running->loadContentsOfURLAtString(""); // no delegate any more: no message
    waitFor([] { return false; }, 0.2);
    EXPECT_TRUE(receiver->messages.empty());

    auto done = make();
    done->loadContentsOfURLAtString("http://ads.example.test/echo?body=x");
    ASSERT_TRUE(waitFor([&] { return settled(); }));
    done->cancel();
    done->cancel();
    EXPECT_EQ(receiver->messages.size(), 1u);
}
