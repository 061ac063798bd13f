// A process looked at and signalled by its id alone, as one left by an
// earlier run is.
#include "kit/core/ChildProcess.h"
#include "kit/core/ForeignProcess.h"
#include "kit/core/RunLoop.h"
#include "kit/testing/TestEnvironment.h"

#include <gtest/gtest.h>

namespace {

TEST(ForeignProcessTest, ItsCommandLineIsReadWhileItLivesAndNotOnceItIsGone)
{
    kit::TestEnvironment env;
    auto child = kit::ChildProcess::create();
    child->setLaunchPath("/bin/sleep");
    child->setArguments({ "30" });
    ASSERT_TRUE(child->launch());
    const pid_t pid = child->processIdentifier();
    ASSERT_TRUE(env.loop().runUntil([&] {
        auto args = kit::ForeignProcess::commandLine(pid);
        return args && args->size() == 2 && (*args)[1] == "30";
    }, 10));
    EXPECT_TRUE(kit::ForeignProcess::isAlive(pid));

    kit::ForeignProcess::suspend(pid);
    kit::ForeignProcess::terminate(pid); // wakes it, so that it can end
    ASSERT_TRUE(env.loop().runUntil([&] { return !child->isRunning(); }, 10));
    EXPECT_EQ(child->terminationStatus(), 128 + 15);
    EXPECT_FALSE(kit::ForeignProcess::isAlive(pid));
    EXPECT_FALSE(kit::ForeignProcess::commandLine(pid));
}

TEST(ForeignProcessTest, ProcessGroupsAndInitAreNeverSignalled)
{
    // kill(0) and kill(-1) would reach this very process or every process.
    for (pid_t pid : { pid_t(-1), pid_t(0), pid_t(1) }) {
        EXPECT_FALSE(kit::ForeignProcess::isAlive(pid)) << pid;
        EXPECT_FALSE(kit::ForeignProcess::commandLine(pid)) << pid;
        kit::ForeignProcess::terminate(pid);
        kit::ForeignProcess::suspend(pid);
    }
    EXPECT_TRUE(kit::ForeignProcess::isAlive(kit::ForeignProcess::self())) << "still here";
}

} // namespace
