#include "kit/FdWatcher.h"
#include "kit/RunLoop.h"
#include "kit/Timer.h"

#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class RunLoopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        loop.reset();
        clock = &loop.useManualClock();
    }
    void TearDown() override { loop.reset(); }

    kit::RunLoop& loop { kit::RunLoop::main() };
    kit::ManualClock* clock { nullptr };
};

TEST_F(RunLoopTest, TimersFireInTimeOrderWithTheClockAtTheirDueTime)
{
    std::vector<std::pair<std::string, double>> fired;
    auto b = kit::Timer::scheduled(0.5, false, [&](kit::Timer&) { fired.push_back({ "b", loop.now() }); });
    auto a = kit::Timer::scheduled(0.2, false, [&](kit::Timer&) { fired.push_back({ "a", loop.now() }); });
    auto tick = kit::Timer::scheduled(0.3, true, [&](kit::Timer&) { fired.push_back({ "tick", loop.now() }); });
    loop.advance(0.1);
    EXPECT_TRUE(fired.empty());
    loop.advance(0.9);
    std::vector<std::pair<std::string, double>> expected { { "a", 0.2 }, { "tick", 0.3 }, { "b", 0.5 }, { "tick", 0.6 }, { "tick", 0.9 } };
    ASSERT_EQ(fired.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(fired[i].first, expected[i].first);
        EXPECT_NEAR(fired[i].second, expected[i].second, 1e-9);
    }
    EXPECT_DOUBLE_EQ(loop.now(), 1.0);
    EXPECT_FALSE(a->isValid());
    EXPECT_TRUE(tick->isValid());
}

TEST_F(RunLoopTest, InvalidateStopsARepeatingTimerAlsoFromItsOwnCallback)
{
    int count = 0;
    kit::Timer::scheduled(1.0, true, [&](kit::Timer& t) {
        if (++count == 3)
            t.invalidate();
    });
    loop.advance(10);
    EXPECT_EQ(count, 3);

    int other = 0;
    auto t = kit::Timer::scheduled(1.0, true, [&](kit::Timer&) { ++other; });
    loop.advance(2.5);
    t->invalidate();
    loop.advance(5);
    EXPECT_EQ(other, 2);
}

TEST_F(RunLoopTest, TheLoopHoldsAScheduledTimerThatNobodyElseHolds)
{
    int count = 0;
    kit::Timer::scheduled(1.0, true, [&](kit::Timer&) { ++count; });
    loop.advance(3);
    EXPECT_EQ(count, 3);
}

TEST_F(RunLoopTest, PostedWorkRunsInOrderAndWorkPostedMeanwhileWaitsForTheNextTurn)
{
    std::vector<int> order;
    loop.post([&] {
        order.push_back(1);
        loop.post([&] { order.push_back(3); });
    });
    loop.post([&] { order.push_back(2); });
    loop.runOnce(0);
    EXPECT_EQ(order, (std::vector<int> { 1, 2, 3 }));
}

TEST_F(RunLoopTest, WorkFromOtherThreadsArrivesOnTheLoop)
{
    auto loopThread = std::this_thread::get_id();
    std::thread::id ranOn;
    std::thread worker([&] { loop.postFromAnyThread([&] { ranOn = std::this_thread::get_id(); }); });
    worker.join();
    ASSERT_TRUE(loop.runUntil([&] { return ranOn != std::thread::id(); }, 5));
    EXPECT_EQ(ranOn, loopThread);
}

TEST_F(RunLoopTest, AWatcherSeesReadableDataAndStopsWhenDestroyedInsideItsCallback)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int calls = 0;
    std::unique_ptr<kit::FdWatcher> watcher;
    watcher = std::make_unique<kit::FdWatcher>(fds[0], kit::FdWatcher::Read, [&](unsigned events) {
        EXPECT_TRUE(events & kit::FdWatcher::Read);
        ++calls;
        watcher.reset();
    });
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    loop.advance(0);
    loop.advance(0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(watcher, nullptr);
    close(fds[0]);
    close(fds[1]);
}

TEST_F(RunLoopTest, EventDrivenHostsSeeTheNextDueTimeAndTheWatches)
{
    int changes = 0;
    loop.onChange = [&] { ++changes; };
    EXPECT_FALSE(loop.nextDueTime());
    auto t = kit::Timer::scheduled(2.0, false, [](kit::Timer&) { });
    ASSERT_TRUE(loop.nextDueTime());
    EXPECT_DOUBLE_EQ(*loop.nextDueTime(), 2.0);
    EXPECT_GT(changes, 0);
    t->invalidate();
    EXPECT_FALSE(loop.nextDueTime());
    loop.onChange = nullptr;
}

} // namespace
