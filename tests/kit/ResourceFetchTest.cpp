// The fetch of a whole resource on the run loop: the bytes or nothing, with
// the same limits as ever, and a caller that never waits for it.
#include "kit/net/ResourceFetch.h"
#include "tests/support/LoopTest.h"
#include "tests/support/PageServer.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

class ResourceFetchTest : public LoopTest {
protected:
    static void SetUpTestSuite() { s_server = new PageServer(120); }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override { mapHosts(s_server->port()); }

    struct Outcome {
        bool done { false };
        std::optional<std::vector<uint8_t>> bytes;
    };
    // Starts a fetch whose completion fills `outcome`.
    std::unique_ptr<kit::ResourceFetch> fetch(const std::string& url, Outcome& outcome, double limit = 30, size_t size = 64u << 20)
    {
        return kit::ResourceFetch::start(url, [&outcome](std::optional<std::vector<uint8_t>> bytes) {
            EXPECT_FALSE(outcome.done) << "one completion only";
            outcome.done = true;
            outcome.bytes = std::move(bytes);
        }, limit, size);
    }
    // The outcome of a whole fetch.
    std::optional<std::vector<uint8_t>> fetched(const std::string& url, double limit = 30, size_t size = 64u << 20)
    {
        Outcome outcome;
        auto f = fetch(url, outcome, limit, size);
        EXPECT_FALSE(outcome.done) << "never from inside start()";
        EXPECT_TRUE(waitFor([&] { return outcome.done; }));
        EXPECT_FALSE(f->isRunning());
        return outcome.bytes;
    }
    static PageServer* s_server;
};

PageServer* ResourceFetchTest::s_server = nullptr;

TEST_F(ResourceFetchTest, YieldsTheBytesOrNothing)
{
    auto bytes = fetched(siteAddress("/torrent"));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "d4:name4:baree");
    EXPECT_FALSE(fetched(siteAddress("/missing.torrent"))) << "an error page is not the resource";
    EXPECT_FALSE(fetched("http://dead.quorvane.test/a.torrent"));
    EXPECT_FALSE(fetched("file:///etc/hostname"));
    EXPECT_FALSE(fetched(siteAddress("/torrent"), 5, 4)) << "over the size limit";
}

TEST_F(ResourceFetchTest, GivesUpOnTheRunLoopsClock)
{
    Outcome outcome;
    auto f = fetch(siteAddress("/hang.torrent"), outcome, 30);
    // The loop turns on while the server keeps silent: nothing holds it up.
    EXPECT_FALSE(waitFor([&] { return outcome.done; }, 0.3));
    EXPECT_TRUE(f->isRunning());
    kit::RunLoop::main().advance(29.9);
    EXPECT_FALSE(outcome.done);
    kit::RunLoop::main().advance(0.2);
    EXPECT_TRUE(outcome.done);
    EXPECT_FALSE(outcome.bytes);
}

TEST_F(ResourceFetchTest, CancelledOrDroppedItCallsNobody)
{
    Outcome outcome;
    auto f = fetch(siteAddress("/hang.torrent"), outcome);
    f->cancel();
    EXPECT_FALSE(f->isRunning());
    kit::RunLoop::main().advance(60);
    Outcome second;
    auto g = fetch(siteAddress("/torrent"), second);
    g.reset();
    Outcome third;
    auto h = fetch("file:///etc/hostname", third);
    h.reset();
    waitFor([] { return false; }, 0.3);
    kit::RunLoop::main().advance(1);
    EXPECT_FALSE(outcome.done);
    EXPECT_FALSE(second.done);
    EXPECT_FALSE(third.done);
}

TEST_F(ResourceFetchTest, TheCompletionMayDropTheFetch)
{
    std::unique_ptr<kit::ResourceFetch> f;
    bool done = false;
    f = kit::ResourceFetch::start(siteAddress("/torrent"), [&](std::optional<std::vector<uint8_t>> bytes) {
        EXPECT_TRUE(bytes);
        f.reset();
        done = true;
    });
    EXPECT_TRUE(waitFor([&] { return done; }));
    EXPECT_EQ(f, nullptr);
}

} // namespace
