// kit's HTTP under a hostile server: the body cap where the bytes arrive, no
// scheme but http and https, and a loop of the caller's choosing.
#include "kit/net/HttpRequest.h"
#include "kit/core/RunLoop.h"
#include "tests/support/AdnetServer.h"
#include "tests/support/LoopTest.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using testsupport::AdnetServer;

namespace {

// Requests go to the ad network on loopback, which plays the hostile server.
class HttpBoundsTest : public testsupport::LoopTest {
protected:
    static void SetUpTestSuite() { AdnetServer::shared().start(); }
    static void TearDownTestSuite() { AdnetServer::shared().stop(); }

    struct Trace {
        std::vector<std::string> events;
        size_t bytes = 0;
        std::string body;
        bool done = false;
    };
    static std::shared_ptr<kit::HttpRequest> make(kit::RunLoop& loop, const std::string& url, Trace& t)
    {
        auto r = kit::HttpRequest::create(loop, url);
        r->onResponse = [&t](int status) { t.events.push_back("response " + std::to_string(status)); };
        r->onData = [&t](const uint8_t* b, size_t n) {
            t.bytes += n;
            if (t.body.size() < 64)
                t.body.append(reinterpret_cast<const char*>(b), std::min<size_t>(n, 64));
        };
        r->onFinish = [&t] { t.events.push_back("finish"); t.done = true; };
        r->onFailure = [&t] { t.events.push_back("failure"); t.done = true; };
        return r;
    }
};

} // namespace

TEST_F(HttpBoundsTest, BodyCapCountsDecodedBytesAndStopsTheTransfer)
{
    // 1 MB on the wire that inflates to 1 GiB: stopped at the cap, with no
    // byte of it delivered beyond the cap.
    Trace bomb;
    auto r = make(kit::RunLoop::main(), "http://ads.example.test/ad_source.php?s=gzip-bomb", bomb);
    r->setMaximumBodyLength(4 << 20);
    ASSERT_TRUE(r->start());
    ASSERT_TRUE(waitFor([&] { return bomb.done; }));
    EXPECT_EQ(bomb.events, (std::vector<std::string> { "response 200", "failure" }));
    EXPECT_LE(bomb.bytes, size_t(4 << 20));
    EXPECT_FALSE(r->isRunning());

    // Exactly at the cap is allowed; one byte less is not.
    const std::string body = "five!";
    for (size_t cap : { body.size(), body.size() - 1 }) {
        Trace t;
        auto echo = make(kit::RunLoop::main(), "http://ads.example.test/echo?body=" + body, t);
        echo->setMaximumBodyLength(cap);
        ASSERT_TRUE(echo->start());
        ASSERT_TRUE(waitFor([&] { return t.done; }));
        if (cap == body.size()) {
            EXPECT_EQ(t.events.back(), "finish");
            EXPECT_EQ(t.body, body);
        } else {
            EXPECT_EQ(t.events.back(), "failure");
            EXPECT_EQ(t.bytes, 0u);
        }
    }
}

TEST_F(HttpBoundsTest, RedirectsLeadOnlyToHttpAndHttps)
{
    for (std::string target : { "file:///etc/hostname", "ftp://127.0.0.1/x", "gopher://127.0.0.1/x", "dict://127.0.0.1/x" }) {
        Trace t;
        auto r = make(kit::RunLoop::main(), "http://ads.example.test/redirect?to=" + target, t);
        ASSERT_TRUE(r->start());
        ASSERT_TRUE(waitFor([&] { return t.done; })) << target;
        EXPECT_EQ(t.events.back(), "failure") << target;
        EXPECT_EQ(t.bytes, 0u) << target;
    }
}

TEST_F(HttpBoundsTest, RunsOnTheLoopItIsGiven)
{
    kit::RunLoop other;
    Trace t;
    auto r = make(other, "http://ads.example.test/echo?body=elsewhere", t);
    const size_t mainWatches = kit::RunLoop::main().watchCount();
    const size_t otherWatches = other.watchCount();
    ASSERT_TRUE(r->start());
    EXPECT_EQ(kit::RunLoop::main().watchCount(), mainWatches);
    EXPECT_GT(other.watchCount(), otherWatches);
    EXPECT_FALSE(kit::RunLoop::main().runUntil([&] { return t.done; }, 0.3));
    ASSERT_TRUE(other.runUntil([&] { return t.done; }, 10));
    EXPECT_EQ(t.events, (std::vector<std::string> { "response 200", "finish" }));
    EXPECT_EQ(t.body, "elsewhere");
}
