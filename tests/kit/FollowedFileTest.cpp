// A file another process appends to, read as a pipe is: chunks as it grows,
// an empty chunk only once the writer has ended, cut back when it grows large.
#include "tests/support/TempFolder.h"
#include "kit/core/FollowedFile.h"
#include "kit/core/NotificationCenter.h"
#include "kit/core/RunLoop.h"
#include "kit/testing/TestEnvironment.h"

#include <algorithm>
#include <any>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

TEST(FollowedFileTest, ReadsWhatIsAppendedEndsOnlyWhenTheWriterHasAndStaysSmall)
{
    kit::TestEnvironment env;
    testsupport::TempFolder folder;
    const auto path = folder / "out.log";
    testsupport::writeFile(path, "written before\n");
    auto opened = kit::FollowedFile::open(path);
    ASSERT_TRUE(opened);
    auto file = opened.release();
    std::vector<std::string> chunks;
    auto reads = kit::NotificationCenter::defaultCenter().addObserver([&](const kit::Notification& n) {
        chunks.push_back(std::any_cast<const std::string&>(n.userInfo.at(kit::FollowedFile::DataItem)));
        if (!chunks.back().empty())
            file->readInBackgroundAndNotify();
    }, kit::FollowedFile::ReadCompletionNotification, file.get());

    // The writer appends, as a client does with its output.
    int writer = ::open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(writer, 0);
    file->readInBackgroundAndNotify();
    auto write = [&](const std::string& text) { ASSERT_EQ(::write(writer, text.data(), text.size()), ssize_t(text.size())); };
    write("\n| 0/0/1 [1/8/1] 0MB,0MB | 10,5K/s | 2,1K E:0,1");
    ASSERT_TRUE(env.loop().runUntil([&] { return !chunks.empty(); }, 10));
    EXPECT_EQ(chunks.front(), "\n| 0/0/1 [1/8/1] 0MB,0MB | 10,5K/s | 2,1K E:0,1") << "from where it was opened";

    // Past its largest size it is cut back, and the writer goes on at the new end.
    const std::string big(size_t(kit::FollowedFile::largestSize) + 10, 'x');
    write(big);
    ASSERT_TRUE(env.loop().runUntil([&] { return std::filesystem::file_size(path) == 0; }, 10));
    write("after the cut");
    // An end of output on the way would have stopped the reads before this.
    ASSERT_TRUE(env.loop().runUntil([&] { return chunks.back() == "after the cut"; }, 10));
    EXPECT_EQ(std::count(chunks.begin(), chunks.end(), std::string()), 0) << "no end of output while the writer lives";
    ::close(writer);

    // A file taken over shows its last line first.
    testsupport::writeFile(folder / "other.log", "\nline one\nline two   \n");
    auto other = kit::FollowedFile::open(folder / "other.log").release();
    other->startAtLastLine();
    std::string first;
    auto otherReads = kit::NotificationCenter::defaultCenter().addObserver([&](const kit::Notification& n) {
        first = std::any_cast<const std::string&>(n.userInfo.at(kit::FollowedFile::DataItem));
    }, kit::FollowedFile::ReadCompletionNotification, other.get());
    other->readInBackgroundAndNotify();
    ASSERT_TRUE(env.loop().runUntil([&] { return !first.empty(); }, 10));
    EXPECT_EQ(first, "\nline two   \n");

    file->writerEnded();
    ASSERT_TRUE(env.loop().runUntil([&] { return chunks.back().empty(); }, 10)) << "the end, once the writer has gone";
}

} // namespace
