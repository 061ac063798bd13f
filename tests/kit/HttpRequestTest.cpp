#include "kit/net/HttpRequest.h"
#include "kit/core/Timer.h"
#include "kit/core/RunLoop.h"
#include "tests/support/AdnetServer.h"
#include "tests/support/LoopTest.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using testsupport::AdnetServer;

// Requests go to the ad network on loopback, which logs what it received.
class HttpRequestTest : public testsupport::LoopTest {
protected:
    static void SetUpTestSuite() { AdnetServer::shared().start(); }
    static void TearDownTestSuite() { AdnetServer::shared().stop(); }
    void SetUp() override
    {
        testsupport::LoopTest::SetUp();
        AdnetServer::shared().mark();
    }
    static AdnetServer& adnet() { return AdnetServer::shared(); }

    struct Trace {
        std::vector<std::string> events;
        std::string body;
        bool done = false;
    };
    std::shared_ptr<kit::HttpRequest> make(const std::string& url, Trace& t)
    {
        auto r = kit::HttpRequest::create(url);
        r->onResponse = [&t](int status) { t.events.push_back("response " + std::to_string(status)); };
        r->onData = [&t](const uint8_t* b, size_t n) {
            if (t.events.empty() || t.events.back() != "data")
                t.events.push_back("data");
            t.body.append(reinterpret_cast<const char*>(b), n);
        };
        r->onFinish = [&t] { t.events.push_back("finish"); t.done = true; };
        r->onFailure = [&t] { t.events.push_back("failure"); t.done = true; };
        return r;
    }
};

TEST_F(HttpRequestTest, DeliversResponseDataFinishInOrderWithHeaders)
{
    Trace t;
    auto r = make("http://ads.example.test/echo?body=hello", t);
    r->setHeader("X-Test", "one");
    r->setHeader("x-test", "two");
    ASSERT_TRUE(r->start());
    ASSERT_TRUE(waitFor([&] { return t.done; }));
    EXPECT_EQ(t.events, (std::vector<std::string> { "response 200", "data", "finish" }));
    EXPECT_EQ(t.body, "hello");
    auto logged = adnet().since("/echo");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].header("X-Test"), "two");
    EXPECT_EQ(logged[0].header("Host"), "ads.example.test");
}

TEST_F(HttpRequestTest, FollowsRedirectsAndReportsOnlyTheFinalResponse)
{
    Trace t;
    auto r = make("http://ads.example.test/redirect?to=/status%3Fcode%3D404%26body%3Dgone", t);
    ASSERT_TRUE(r->start());
    ASSERT_TRUE(waitFor([&] { return t.done; }));
    EXPECT_EQ(t.events, (std::vector<std::string> { "response 404", "data", "finish" }));
    EXPECT_EQ(t.body, "gone");
}

TEST_F(HttpRequestTest, RefusesWhatIsNoHttpUrlSynchronously)
{
    for (std::string url : { "", "no url", "ftp://ads.example.test/x", "http://", "http://a b/" }) {
        Trace t;
        auto r = make(url, t);
        auto started = r->start();
        ASSERT_FALSE(started) << url;
        EXPECT_EQ(started.error().message, "not an http or https address: " + url);
        kit::RunLoop::main().advance(0.1);
        EXPECT_TRUE(t.events.empty()) << url;
    }
}

TEST_F(HttpRequestTest, CancelInsideResponseStopsEveryCallback)
{
    Trace t;
    auto r = make("http://ads.example.test/echo?body=abc", t);
    r->onResponse = [&](int) { t.events.push_back("response"); r->cancel(); };
    ASSERT_TRUE(r->start());
    waitFor([&] { return !t.events.empty(); });
    waitFor([] { return false; }, 0.2);
    EXPECT_EQ(t.events, (std::vector<std::string> { "response" }));
    EXPECT_FALSE(r->isRunning());
}

TEST_F(HttpRequestTest, AnswersArriveInVirtualTimeBeforeTheTimeOut)
{
    // No real-time waiting here: advancing the clock alone carries the transfers.
    kit::RunLoop::main().setWaitsForOutsideWork(true);
    std::vector<std::string> order;
    Trace first;
    auto a = make("http://ads.example.test/echo?body=one", first);
    a->setTimeout(60);
    auto tick = kit::Timer::scheduled(30, false, [&](kit::Timer&) {
        order.push_back("tick " + std::to_string(first.done));
    });
    ASSERT_TRUE(a->start());
    kit::RunLoop::main().advance(120);
    EXPECT_EQ(first.events, (std::vector<std::string> { "response 200", "data", "finish" }));
    EXPECT_EQ(first.body, "one");
    EXPECT_EQ(order, (std::vector<std::string> { "tick 1" }));
    EXPECT_EQ(kit::RunLoop::main().awaitedCount(), 0u);
}

TEST_F(HttpRequestTest, TimeOutOnTheRunLoopClockAndRefusedConnectionsFail)
{
    Trace slow;
    auto r = make("http://ads.example.test/ad_source.php?s=slow", slow);
    r->setTimeout(60);
    ASSERT_TRUE(r->start());
    ASSERT_TRUE(waitFor([&] { return !adnet().since("/ad_source.php").empty(); }));
    kit::RunLoop::main().advance(59);
    EXPECT_TRUE(slow.events.empty());
    kit::RunLoop::main().advance(1);
    EXPECT_EQ(slow.events, (std::vector<std::string> { "failure" }));

    Trace refused;
    auto closed = make("http://127.0.0.1:1/", refused);
    ASSERT_TRUE(closed->start());
    ASSERT_TRUE(waitFor([&] { return refused.done; }));
    EXPECT_EQ(refused.events, (std::vector<std::string> { "failure" }));
}

TEST_F(HttpRequestTest, ALoopThatGoesEndsItsRunningRequestsQuietly)
{
    Trace slow;
    auto loop = std::make_unique<kit::RunLoop>();
    auto r = kit::HttpRequest::create(*loop, "http://ads.example.test/ad_source.php?s=slow");
    r->onFailure = [&slow] { slow.events.push_back("failure"); };
    r->onFinish = [&slow] { slow.events.push_back("finish"); };
    r->setTimeout(60);
    ASSERT_TRUE(r->start());
    ASSERT_TRUE(loop->runUntil([&] { return !adnet().since("/ad_source.php").empty(); }, 10));
    ASSERT_TRUE(r->isRunning());
    EXPECT_GT(loop->watchCount(), 0u);

    // The loop owns its transfers' engine: going, it ends the request, which
    // outlives it without a callback and can be cancelled and dropped safely.
    loop.reset();
    EXPECT_FALSE(r->isRunning());
    r->cancel();
    r.reset();
    EXPECT_TRUE(slow.events.empty());
}
