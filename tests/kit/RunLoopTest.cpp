#include "kit/core/FdWatcher.h"
#include "kit/core/Log.h"
#include "kit/core/NotificationCenter.h"
#include "kit/testing/TestEnvironment.h"
#include "kit/core/RunLoop.h"
#include "kit/core/Timer.h"

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <thread>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

class RunLoopTest : public ::testing::Test {
protected:
    kit::TestEnvironment env;
    kit::RunLoop& loop { env.loop() };
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
    auto counting = kit::Timer::scheduled(1.0, true, [&](kit::Timer& t) {
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

TEST_F(RunLoopTest, ATimerEndsWithItsLastHolderAlsoFromInsideItsCallback)
{
    int count = 0;
    auto held = kit::Timer::scheduled(1.0, true, [&](kit::Timer&) { ++count; });
    loop.advance(2);
    auto copy = held;
    held.reset();
    loop.advance(1);
    EXPECT_EQ(count, 3) << "a second holder keeps it";
    copy.reset();
    loop.advance(5);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(loop.timerCount(), 0u);

    int once = 0;
    std::shared_ptr<kit::Timer> self;
    self = kit::Timer::scheduled(1.0, true, [&](kit::Timer&) {
        ++once;
        self.reset(); // the last holder lets go while it fires
    });
    loop.advance(5);
    EXPECT_EQ(once, 1);
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

TEST_F(RunLoopTest, ResetDropsWorkThatDroppingWorkPosts)
{
    // A job holding an owner whose going posts work, as an animated view does.
    struct PostsWhenDropped {
        kit::RunLoop& loop;
        int& dropped;
        PostsWhenDropped(kit::RunLoop& l, int& d) : loop(l), dropped(d) { }
        ~PostsWhenDropped()
        {
            if (++dropped < 3)
                loop.post([next = std::make_shared<PostsWhenDropped>(loop, dropped)] { });
        }
    };
    int dropped = 0;
    loop.post([first = std::make_shared<PostsWhenDropped>(loop, dropped)] { });
    loop.reset();
    EXPECT_EQ(dropped, 3) << "each round's work was dropped in turn";
    EXPECT_FALSE(loop.hasPostedWork());
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

// A backend that writes down what the loop tells it.
struct RecordingBackend : kit::RunLoopBackend {
    std::vector<std::string>* said;
    explicit RecordingBackend(std::vector<std::string>& out) : said(&out) { }
    void timerAdded(uint64_t, double delay) override { said->push_back("timer " + std::to_string(int(delay * 1000))); }
    void timerRemoved(uint64_t) override { said->push_back("timer gone"); }
    void watchAdded(uint64_t, int, unsigned events) override { said->push_back("watch " + std::to_string(events)); }
    void watchEnabled(uint64_t, bool enabled) override { said->push_back(enabled ? "on" : "off"); }
    void watchRemoved(uint64_t) override { said->push_back("watch gone"); }
    void wake() override { said->push_back("wake"); }
    void wait(double) override { }
};

TEST_F(RunLoopTest, ABackendHearsEachRegistrationOneAtATimeAndRealTimersOnly)
{
    std::vector<std::string> said;
    loop.setBackend(std::make_unique<RecordingBackend>(said));
    said.clear(); // what was handed over: the loop's own wake-up watch
    EXPECT_FALSE(loop.nextDueTime());
    auto manual = kit::Timer::scheduled(2.0, false, [](kit::Timer&) { });
    ASSERT_TRUE(loop.nextDueTime());
    EXPECT_DOUBLE_EQ(*loop.nextDueTime(), 2.0);
    EXPECT_TRUE(said.empty()) << "manual-clock timers wait for advance(), not for the host";

    loop.setClock(std::make_shared<kit::RealClock>());
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].rfind("timer ", 0), 0u);
    said.clear();
    manual->invalidate();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
        kit::FdWatcher watch(fds[0], kit::FdWatcher::Read, [](unsigned) { });
        watch.setEnabled(false);
        watch.setEnabled(false);
        loop.post([] { });
    }
    EXPECT_EQ(said, (std::vector<std::string> { "timer gone", "watch 1", "off", "wake", "watch gone" }));
    loop.setBackend(nullptr);
    close(fds[0]);
    close(fds[1]);
}

TEST_F(RunLoopTest, AdvanceOnARealClockLogsAndDoesNotWait)
{
    loop.setClock(std::make_shared<kit::RealClock>());
    std::vector<std::string> lines;
    auto old = kit::setLogSink([&](const std::string& line) {
        lines.push_back(line);
        return true;
    });
    bool ran = false;
    loop.post([&] { ran = true; });
    int fired = 0;
    auto later = kit::Timer::scheduled(60, false, [&](kit::Timer&) { ++fired; });
    const double before = kit::RealClock().now();
    loop.advance(60);
    EXPECT_LT(kit::RealClock().now() - before, 5.0);
    kit::setLogSink(old);
    EXPECT_TRUE(ran);
    EXPECT_EQ(fired, 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("manual clock"), std::string::npos);
}

// Owners that die with timers and observations pending: advancing the clock
// afterwards must call nothing (the sanitizer build catches any call into freed memory).
TEST_F(RunLoopTest, OwnersDroppedWithPendingTimersAndObservationsHearNothing)
{
    struct Owner {
        int calls = 0;
        std::shared_ptr<kit::Timer> tick;
        std::shared_ptr<kit::Timer> once;
        kit::Observation observation;
    };
    int total = 0;
    auto owner = std::make_unique<Owner>();
    auto* raw = owner.get();
    owner->tick = kit::Timer::scheduled(0.5, true, [raw, &total](kit::Timer&) { ++raw->calls, ++total; });
    owner->once = kit::Timer::scheduled(2, false, [raw, &total](kit::Timer&) { ++raw->calls, ++total; });
    owner->observation = kit::NotificationCenter::defaultCenter().addObserver(
        [raw, &total](const kit::Notification&) { ++raw->calls, ++total; }, "ping", nullptr);
    loop.advance(1);
    kit::NotificationCenter::defaultCenter().postNotification("ping", nullptr);
    EXPECT_EQ(total, 3);
    owner.reset();
    loop.advance(10);
    kit::NotificationCenter::defaultCenter().postNotification("ping", nullptr);
    EXPECT_EQ(total, 3);
    EXPECT_EQ(loop.timerCount(), 0u);
    EXPECT_EQ(kit::NotificationCenter::defaultCenter().observationCount(), 0u);
}

// Where eventfd (and then a pipe) cannot be had, work posted from other
// threads still arrives, and the log says how the loop is woken.
class RunLoopWakeTest : public ::testing::TestWithParam<kit::RunLoop::WakeChannel> { };

TEST_P(RunLoopWakeTest, WorkFromOtherThreadsIsNeverLost)
{
    std::vector<std::string> lines;
    auto old = kit::setLogSink([&](const std::string& line) {
        lines.push_back(line);
        return true;
    });
    kit::RunLoop loop(GetParam());
    kit::setLogSink(old);
    if (GetParam() == kit::RunLoop::WakeChannel::None) {
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("picked up every 10 ms"), std::string::npos);
    } else {
        EXPECT_TRUE(lines.empty()) << "a pipe is the fallback; starting there logs nothing";
    }
    std::atomic<int> ran { 0 };
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i)
            loop.postFromAnyThread([&] { ++ran; });
    });
    worker.join();
    ASSERT_TRUE(loop.runUntil([&] { return ran == 100; }, 10));
    EXPECT_EQ(ran, 100);
}

TEST_F(RunLoopTest, AdvanceLetsAwaitedOutsideWorkAnswerBeforeTheClockMoves)
{
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    std::vector<std::pair<std::string, double>> seen;
    kit::FdWatcher watch(loop, fds[0], kit::FdWatcher::Read, [&](unsigned) {
        char c;
        while (::recv(fds[0], &c, 1, MSG_DONTWAIT) == 1)
            seen.push_back({ std::string(1, c), loop.now() });
    });
    auto timer = kit::Timer::scheduled(1.0, false, [&](kit::Timer&) { seen.push_back({ "timer", loop.now() }); });
    // An answer on its way: the other end writes a little later, in real time.
    loop.setWaitsForOutsideWork(true);
    auto awaiting = loop.awaitOutside();
    EXPECT_EQ(loop.awaitedCount(), 1u);
    std::thread server([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        [[maybe_unused]] auto n = ::send(fds[1], "a", 1, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        n = ::send(fds[1], "b", 1, 0);
    });
    loop.advance(2);
    server.join();
    awaiting.reset();
    EXPECT_EQ(loop.awaitedCount(), 0u);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], (std::pair<std::string, double> { "a", 0.0 }));
    EXPECT_EQ(seen[1], (std::pair<std::string, double> { "b", 0.0 }));
    EXPECT_EQ(seen[2], (std::pair<std::string, double> { "timer", 1.0 }));
    ::close(fds[0]);
    ::close(fds[1]);
}

INSTANTIATE_TEST_SUITE_P(Fallbacks, RunLoopWakeTest, ::testing::Values(kit::RunLoop::WakeChannel::Pipe, kit::RunLoop::WakeChannel::None));

} // namespace
