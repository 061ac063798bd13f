#include "kit/core/AtomicFile.h"
#include "kit/net/BlockingFetch.h"
#include "tests/support/PageServer.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sys/stat.h>

using namespace testsupport;

namespace {

class Fetch : public testing::Test {
protected:
    static void SetUpTestSuite() { s_server = new PageServer(120); }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override { mapHosts(s_server->port()); }
    static PageServer* s_server;
};

PageServer* Fetch::s_server = nullptr;

TEST_F(Fetch, YieldsTheBytesOrNothing)
{
    auto bytes = kit::fetchContentsOfURL(siteAddress("/torrent"));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "d4:name4:baree");
    EXPECT_FALSE(kit::fetchContentsOfURL(siteAddress("/missing.torrent"))) << "an error page is not the resource";
    EXPECT_FALSE(kit::fetchContentsOfURL("http://dead.quorvane.test/a.torrent"));
    EXPECT_FALSE(kit::fetchContentsOfURL("file:///etc/hostname"));
    EXPECT_FALSE(kit::fetchContentsOfURL(siteAddress("/torrent"), 5, 4)) << "over the size limit";
}

TEST_F(Fetch, GivesUpOnAServerThatNeverAnswers)
{
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(kit::fetchContentsOfURL(siteAddress("/hang.torrent"), 0.3));
    auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(took, 5.0);
}

TEST(AtomicFile, ReplacesWholeOrLeavesTheOldFile)
{
    TempFolder temp;
    const std::string folder = temp.path();
    auto path = folder + "/page.torrent";
    const uint8_t first[] = { 'a', 0, 'b' };
    ASSERT_TRUE(kit::writeFileAtomically(path, first, sizeof first));
    EXPECT_EQ(readFile(path), std::string("a\0b", 3));
    const uint8_t second[] = { 'z' };
    ASSERT_TRUE(kit::writeFileAtomically(path, second, sizeof second));
    EXPECT_EQ(readFile(path), "z");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << "not left private like a temporary file";

    auto missing = kit::writeFileAtomically(folder + "/missing/page.torrent", first, sizeof first);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ENOENT);
    EXPECT_NE(missing.error().message.find("temporary file beside " + folder + "/missing/page.torrent"), std::string::npos);
    EXPECT_FALSE(fileExists(folder + "/missing"));
    // A folder in the way: the rename fails and the temporary file goes.
    std::filesystem::create_directory(folder + "/busy");
    std::filesystem::create_directory(folder + "/busy/page.torrent");
    std::filesystem::create_directory(folder + "/busy/page.torrent/inside");
    auto busy = kit::writeFileAtomically(folder + "/busy/page.torrent", first, sizeof first);
    ASSERT_FALSE(busy);
    EXPECT_NE(busy.error().message.find("cannot replace"), std::string::npos);
    size_t entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(folder + "/busy"))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

} // namespace
