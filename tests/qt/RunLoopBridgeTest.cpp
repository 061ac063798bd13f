// kit's run loop runs on Qt's: timers, watched descriptors and work posted
// from other threads happen while Qt's loop turns.
#include "QtTestSupport.h"

#include "shells/qt/RunLoopBridge.h"

#include "kit/core/ChildProcess.h"
#include "kit/core/FdWatcher.h"
#include "kit/core/Timer.h"

#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>

using namespace qtshell;

namespace {
class RunLoopBridgeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kit::RunLoop::main().reset();
        kit::RunLoop::main().setClock(std::make_shared<kit::RealClock>());
    }
    void TearDown() override
    {
        kit::RunLoop::main().setBackend(nullptr);
        kit::RunLoop::main().reset();
    }
    RunLoopBridge* bridge { &RunLoopBridge::install() };
};
} // namespace

TEST_F(RunLoopBridgeTest, TimersFireInOrderOnQtsLoop)
{
    std::vector<int> fired;
    auto later = kit::Timer::scheduled(0.05, false, [&](kit::Timer&) { fired.push_back(2); });
    auto sooner = kit::Timer::scheduled(0.01, false, [&](kit::Timer&) { fired.push_back(1); });
    int ticks = 0;
    auto repeating = kit::Timer::scheduled(0.01, true, [&](kit::Timer&) { ++ticks; });
    ASSERT_TRUE(processUntil([&] { return fired.size() == 2 && ticks >= 3; }));
    EXPECT_EQ(fired, (std::vector<int> { 1, 2 }));
    repeating->invalidate();
    int seen = ticks;
    bool posted = false;
    kit::RunLoop::main().post([&] { posted = true; });
    ASSERT_TRUE(processUntil([&] { return posted; }));
    EXPECT_EQ(ticks, seen);
}

TEST_F(RunLoopBridgeTest, WatchedDescriptorsAndOtherThreadsWakeTheLoop)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::string got;
    auto watch = std::make_unique<kit::FdWatcher>(fds[0], kit::FdWatcher::Read, [&](unsigned) {
        char buffer[64];
        auto n = ::read(fds[0], buffer, sizeof buffer);
        if (n > 0)
            got.append(buffer, size_t(n));
    });
    size_t before = bridge->notifierCount();
    EXPECT_GE(before, 2u); // the loop's own wake-up descriptor and ours
    ASSERT_EQ(::write(fds[1], "ping", 4), 4);
    ASSERT_TRUE(processUntil([&] { return got == "ping"; }));

    bool fromThread = false;
    std::thread([] { kit::RunLoop::main().postFromAnyThread([] {}); }).join();
    std::thread([&] { kit::RunLoop::main().postFromAnyThread([&] { fromThread = true; }); }).join();
    ASSERT_TRUE(processUntil([&] { return fromThread; }));

    watch.reset();
    EXPECT_EQ(bridge->notifierCount(), before - 1);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST_F(RunLoopBridgeTest, ChildProcessOutputAndExitArriveWhileQtRuns)
{
    auto made = kit::Pipe::create();
    ASSERT_TRUE(made) << made.error().message;
    auto pipe = made.release();
    auto child = kit::ChildProcess::create();
    child->setLaunchPath("/bin/sh");
    child->setArguments({ "-c", "echo seeding" });
    child->setStandardOutput(pipe);
    bool ended = false;
    child->onTerminate = [&](kit::ChildProcess&) { ended = true; };
    auto childLaunched = child->launch();
    ASSERT_TRUE(childLaunched) << childLaunched.error().message;
    std::string out;
    kit::FdWatcher watch(pipe->fileHandleForReading()->fileDescriptor(), kit::FdWatcher::Read, [&](unsigned) {
        char buffer[64];
        auto n = ::read(pipe->fileHandleForReading()->fileDescriptor(), buffer, sizeof buffer);
        if (n > 0)
            out.append(buffer, size_t(n));
    });
    ASSERT_TRUE(processUntil([&] { return ended && out == "seeding\n"; }));
    EXPECT_EQ(kit::ChildProcess::runningCount(), 0u);
}
