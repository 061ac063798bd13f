#include "tests/support/TempFolder.h"
#include "kit/core/ChildProcess.h"
#include "kit/core/FileHandle.h"
#include "kit/core/NotificationCenter.h"
#include "kit/core/Pipe.h"
#include "kit/core/RunLoop.h"
#include "kit/testing/TestEnvironment.h"

#include <any>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <gtest/gtest.h>

namespace {

using testsupport::TempFolder;
using testsupport::writeFile;

class ChildProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        reads = kit::NotificationCenter::defaultCenter().addObserver([this](const kit::Notification& n) {
            auto& data = std::any_cast<const std::string&>(n.userInfo.at(kit::FileHandle::DataItem));
            chunks.push_back(data);
            if (data.empty())
                ended = true;
            else
                static_cast<kit::FileHandle*>(const_cast<void*>(n.object))->readInBackgroundAndNotify();
        }, kit::FileHandle::ReadCompletionNotification, nullptr);
    }
    void TearDown() override
    {
        kit::ChildProcess::setPidFdAllowed(true);
        kit::ChildProcess::terminateAll();
        loop.runUntil([] { return kit::ChildProcess::runningCount() == 0; }, 5);
    }

    std::shared_ptr<kit::ChildProcess> start(const std::string& script, const std::string& cwd = "")
    {
        writeFile(dir / "child.sh", "#!/bin/sh\n" + script, true);
        auto made = kit::Pipe::create();
        if (!made) {
            ADD_FAILURE() << made.error().message;
            return nullptr;
        }
        auto pipe = made.release();
        handle = pipe->fileHandleForReading();
        handle->readInBackgroundAndNotify();
        auto child = kit::ChildProcess::create();
        child->setLaunchPath(dir / "child.sh");
        child->setCurrentDirectoryPath(cwd.empty() ? dir.path() : cwd);
        child->setStandardOutput(pipe);
        child->setStandardError(pipe);
        auto childLaunched = child->launch();
        EXPECT_TRUE(childLaunched) << childLaunched.error().message;
        return child;
    }

    std::string output() const
    {
        std::string all;
        for (auto& c : chunks)
            all += c;
        return all;
    }

    kit::TestEnvironment env;
    kit::RunLoop& loop { env.loop() };
    kit::Observation reads;
    TempFolder dir;
    std::shared_ptr<kit::FileHandle> handle;
    std::vector<std::string> chunks;
    bool ended { false };
};

TEST_F(ChildProcessTest, MergedOutputWorkingFolderEmptyInputAndEndOfOutput)
{
    auto child = start("echo out; echo err >&2; pwd; cat; echo \"stdin done\"; exit 3\n");
    ASSERT_TRUE(loop.runUntil([&] { return ended; }, 10));
    EXPECT_EQ(output(), "out\nerr\n" + dir.path() + "\nstdin done\n");
    EXPECT_TRUE(chunks.back().empty());
    ASSERT_TRUE(loop.runUntil([&] { return !child->isRunning(); }, 10));
    EXPECT_EQ(child->terminationStatus(), 3);
}

TEST_F(ChildProcessTest, AStoppedChildCountsAsRunningAndEndsWhenTerminatedWhilePaused)
{
    bool noticed = false;
    auto child = start("trap 'echo bye; exit 0' TERM\necho ready\nwhile :; do sleep 0.05; done\n");
    child->onTerminate = [&](kit::ChildProcess&) { noticed = true; };
    ASSERT_TRUE(loop.runUntil([&] { return output().find("ready") != std::string::npos; }, 10));
    child->suspend();
    EXPECT_TRUE(child->isRunning());
    child->terminate();
    ASSERT_TRUE(loop.runUntil([&] { return noticed; }, 10)) << "a paused child must still end on terminate";
    EXPECT_FALSE(child->isRunning());
    EXPECT_EQ(kit::ChildProcess::runningCount(), 0u);
}

TEST_F(ChildProcessTest, LaunchFailuresSayWhyAndStartNothing)
{
    auto missing = kit::ChildProcess::create();
    missing->setLaunchPath(dir / "nothing-here");
    auto missingLaunched = missing->launch();
    ASSERT_FALSE(missingLaunched);
    EXPECT_NE(missingLaunched.error().message.find("No such file"), std::string::npos);
    EXPECT_EQ(missingLaunched.error().failure, kit::ChildProcess::LaunchFailure::Program);
    EXPECT_EQ(missingLaunched.error().code, ENOENT);
    EXPECT_FALSE(missing->isRunning());

    writeFile(dir / "plain.txt", "not a program");
    auto notExecutable = kit::ChildProcess::create();
    notExecutable->setLaunchPath(dir / "plain.txt");
    auto notExecutableLaunched = notExecutable->launch();
    ASSERT_FALSE(notExecutableLaunched);
    EXPECT_NE(notExecutableLaunched.error().message.find("Permission denied"), std::string::npos);

    writeFile(dir / "ok.sh", "#!/bin/sh\nexit 0\n", true);
    auto badFolder = kit::ChildProcess::create();
    badFolder->setLaunchPath(dir / "ok.sh");
    badFolder->setCurrentDirectoryPath(dir / "no-such-folder");
    auto badFolderLaunched = badFolder->launch();
    ASSERT_FALSE(badFolderLaunched);
    EXPECT_NE(badFolderLaunched.error().message.find("no-such-folder"), std::string::npos);
    EXPECT_EQ(badFolderLaunched.error().failure, kit::ChildProcess::LaunchFailure::WorkingFolder);
    EXPECT_EQ(kit::ChildProcess::runningCount(), 0u);

    // Out of descriptors: no pipe, and the reason comes with the failure.
    rlimit before {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit tight = before;
    tight.rlim_cur = 3;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    auto pipe = kit::Pipe::create();
    ::setrlimit(RLIMIT_NOFILE, &before);
    ASSERT_FALSE(pipe);
    EXPECT_EQ(pipe.error().code, EMFILE);
    EXPECT_EQ(pipe.error().message, std::string("pipe: ") + std::strerror(EMFILE));
}

TEST_F(ChildProcessTest, AChildWhoseObjectWasDroppedIsStillReapedAndEndedAtTheEnd)
{
    {
        auto child = start("echo up; while :; do sleep 0.05; done\n");
        ASSERT_TRUE(loop.runUntil([&] { return !output().empty(); }, 10));
    }
    EXPECT_EQ(kit::ChildProcess::runningCount(), 1u);
    kit::ChildProcess::terminateAll();
    EXPECT_TRUE(loop.runUntil([] { return kit::ChildProcess::runningCount() == 0; }, 10));
}

TEST_F(ChildProcessTest, WithoutPidfdsExitsAreHeardThroughSigchld)
{
    kit::ChildProcess::setPidFdAllowed(false);
    // A quick one that may end before anything watches it, and a slow one.
    auto quick = start("exit 4\n");
    auto slow = kit::ChildProcess::create();
    slow->setLaunchPath("/bin/sh");
    slow->setArguments({ "-c", "sleep 0.2; exit 5" });
    auto slowLaunched = slow->launch();
    ASSERT_TRUE(slowLaunched) << slowLaunched.error().message;
    int ended = 0;
    quick->onTerminate = [&](kit::ChildProcess&) { ++ended; };
    slow->onTerminate = [&](kit::ChildProcess&) { ++ended; };
    ASSERT_TRUE(loop.runUntil([&] { return ended == 2; }, 10)) << "both children must be reaped";
    EXPECT_EQ(quick->terminationStatus(), 4);
    EXPECT_EQ(slow->terminationStatus(), 5);
    EXPECT_EQ(kit::ChildProcess::runningCount(), 0u);
}

TEST_F(ChildProcessTest, ReadsDeliverWhatIsAvailableInChunks)
{
    auto child = start("head -c 200000 /dev/zero\n");
    ASSERT_TRUE(loop.runUntil([&] { return ended; }, 10));
    EXPECT_EQ(output().size(), 200000u);
    for (size_t i = 0; i + 1 < chunks.size(); ++i) {
        EXPECT_GE(chunks[i].size(), 1u);
        EXPECT_LE(chunks[i].size(), kit::FileHandle::chunkSize);
    }
}

} // namespace
