// The .torrent reader shared by the opener and the files tab, with hostile
// descriptions, and the map of what running transfers use.
#include "files/Arrivals.h"
#include "torrent/Bencode.h"
#include "torrent/TorrentContents.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using testsupport::TempFolder;
using testsupport::writeFile;

std::string str(const std::string& s) { return std::to_string(s.size()) + ":" + s; }

std::string single(const std::string& name)
{
    return "d8:announce" + str("http://127.0.0.1:1/announce") + "4:infod6:lengthi10e4:name" + str(name) + "12:piece lengthi16384eee";
}

// A torrent of several files; each path is its list of components.
std::string multi(const std::string& name, const std::vector<std::vector<std::string>>& paths)
{
    std::string files = "l";
    for (const auto& path : paths) {
        files += "d6:lengthi1e4:pathl";
        for (const auto& component : path)
            files += str(component);
        files += "ee";
    }
    files += "e";
    return "d8:announce" + str("http://127.0.0.1:1/announce") + "4:infod5:files" + files + "4:name" + str(name) + "ee";
}

TEST(BencodeTest, ReadsValuesAndStopsAtDamage)
{
    auto parsed = torrent::parse("d1:ai-42e1:bl3:xyzee");
    ASSERT_TRUE(parsed.value);
    EXPECT_EQ(parsed.value->find("a")->asInteger(), -42);
    ASSERT_TRUE(parsed.value->find("b")->isList());
    EXPECT_EQ(parsed.value->find("b")->items.at(0).string, "xyz");
    EXPECT_EQ(parsed.value->find("c"), nullptr);

    // A length past the end, a missing end, a bad integer: no value, and where.
    EXPECT_FALSE(torrent::parse("d1:a99:abce").value);
    auto cut = torrent::parse("d1:ai1e");
    EXPECT_FALSE(cut.value);
    EXPECT_EQ(cut.position, 7u);
    EXPECT_FALSE(torrent::parse("i-e").value);
    EXPECT_FALSE(torrent::parse("99999999999:x").value);
    // An integer past 64 bits is read but not usable.
    auto big = torrent::parse("i123456789012345678901234567890e");
    ASSERT_TRUE(big.value);
    EXPECT_FALSE(big.value->asInteger());
}

TEST(BencodeTest, NestingPastTheLimitIsRefusedNotRecursedInto)
{
    EXPECT_TRUE(torrent::parse(std::string(torrent::maxDepth, 'l') + std::string(torrent::maxDepth, 'e')).value);
    EXPECT_FALSE(torrent::parse(std::string(torrent::maxDepth + 2, 'l') + std::string(torrent::maxDepth + 2, 'e')).value);
    // Far deeper than the stack could take if it were followed.
    EXPECT_FALSE(torrent::parse(std::string(1'000'000, 'l')).value);
}

TEST(TorrentContentsTest, SingleAndSeveralFiles)
{
    auto one = torrent::readContents(single("movie.mkv"));
    ASSERT_TRUE(one);
    EXPECT_FALSE(one->multiFile);
    EXPECT_EQ(one->files, (std::vector<std::string> { "movie.mkv" }));
    EXPECT_EQ(torrent::writtenPaths(*one, "/d"), (std::vector<std::string> { "/d/movie.mkv" }));

    auto several = torrent::readContents(multi("Album", { { "cd1", "01.flac" }, { "cd1", "02.flac" }, { "cover.jpg" } }));
    ASSERT_TRUE(several);
    EXPECT_TRUE(several->multiFile);
    EXPECT_EQ(several->files, (std::vector<std::string> { "Album/cd1/01.flac", "Album/cd1/02.flac", "Album/cover.jpg" }));
    EXPECT_EQ(torrent::writtenPaths(*several, "/d"),
        (std::vector<std::string> { "/d/Album", "/d/Album/cd1", "/d/Album/cd1/01.flac", "/d/Album/cd1/02.flac", "/d/Album/cover.jpg" }));
}

TEST(TorrentContentsTest, HostileNamesNeverReachOutsideTheFolder)
{
    for (const auto& name : std::vector<std::string> { "..", ".", "", "../etc", "/etc/passwd", "a/b", std::string("a\0b", 3) })
        EXPECT_FALSE(torrent::readContents(single(name))) << name;
    EXPECT_FALSE(torrent::readContents(multi("..", { { "x" } })));

    auto contents = torrent::readContents(multi("Top", {
        { "..", "..", "etc", "passwd" },
        { "/etc/passwd" },
        { "", "x" },
        { "a", "." },
        {},
        { std::string("nul\0here", 8) },
        { "ok", "file" },
    }));
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->files, (std::vector<std::string> { "Top/ok/file" }));
    for (const auto& path : torrent::writtenPaths(*contents, "/d/downloads"))
        EXPECT_TRUE(path.starts_with("/d/downloads/Top")) << path;

    // Not a description, no info, a name that is no string, files that are no list.
    EXPECT_FALSE(torrent::readContents("garbage"));
    EXPECT_FALSE(torrent::readContents("d4:infoi1ee"));
    EXPECT_FALSE(torrent::readContents("d4:infod4:namei1eee"));
    auto odd = torrent::readContents("d4:infod5:filesi3e4:name3:Topee");
    ASSERT_TRUE(odd);
    EXPECT_TRUE(odd->files.empty());
}

TEST(TorrentContentsTest, FilesTooLargeOrMissingAreNotRead)
{
    TempFolder folder;
    EXPECT_FALSE(torrent::readContentsOfFile(folder / "missing.torrent"));
    EXPECT_FALSE(torrent::readContentsOfFile(folder.path()));
    writeFile(folder / "a.torrent", single("a.bin"));
    EXPECT_TRUE(torrent::readContentsOfFile(folder / "a.torrent"));
    std::filesystem::resize_file(folder / "a.torrent", torrent::maxFileSize + 1);
    EXPECT_FALSE(torrent::readContentsOfFile(folder / "a.torrent"));
}

class ArrivalMapTest : public testing::Test {
protected:
    TempFolder root;
    std::string downloads = root / "Downloads";
    void SetUp() override { std::filesystem::create_directories(downloads); }
};

TEST_F(ArrivalMapTest, MarksWhatTheTransferWritesItsFoldersAndTheTorrent)
{
    writeFile(downloads + "/album.torrent", multi("Album", { { "cd1", "01.flac" } }));
    files::ArrivalMap map;
    map.update({ { downloads + "/album.torrent", 0.426 } }, downloads);
    using Role = files::ArrivalMark::Role;
    auto role = [&](const std::string& path) { return map.markFor(path) ? std::optional(map.markFor(path)->role) : std::nullopt; };
    EXPECT_EQ(role(downloads + "/Album"), Role::Written);
    EXPECT_EQ(role(downloads + "/Album/cd1/01.flac"), Role::Written);
    EXPECT_EQ(role(downloads + "/album.torrent"), Role::TorrentFile);
    // The folders holding it, up from the downloads folder.
    EXPECT_EQ(role(downloads), Role::Holds);
    EXPECT_EQ(role(root.path()), Role::Holds);
    // Other entries, and another spelling of the same place.
    EXPECT_FALSE(role(downloads + "/Album/cd1/02.flac"));
    EXPECT_FALSE(role(downloads + "/other.bin"));
    EXPECT_EQ(role(downloads + "/../Downloads/./Album"), Role::Written);
    EXPECT_EQ(files::markText(*map.markFor(downloads + "/Album")), "arriving 42 %");
    EXPECT_EQ(files::markText(*map.markFor(downloads + "/album.torrent")), "transferring 42 %");

    map.update({}, downloads);
    EXPECT_TRUE(map.empty());
    EXPECT_FALSE(role(downloads + "/Album"));
}

TEST_F(ArrivalMapTest, AHostileTorrentMarksNothingOutsideAndAChangedOneIsReadWhenItStartsAgain)
{
    writeFile(root / "secret", "x");
    writeFile(downloads + "/evil.torrent", multi("..", { { "secret" } }));
    files::ArrivalMap map;
    map.update({ { downloads + "/evil.torrent", 0.5 } }, downloads);
    EXPECT_FALSE(map.markFor(root / "secret"));
    // Only the .torrent itself (and the folders holding it) are in use.
    ASSERT_TRUE(map.markFor(downloads + "/evil.torrent"));
    EXPECT_EQ(map.markFor(downloads)->role, files::ArrivalMark::Role::Holds);

    writeFile(downloads + "/a.torrent", single("first.bin"));
    map.update({ { downloads + "/a.torrent", 1.0 } }, downloads);
    EXPECT_TRUE(map.markFor(downloads + "/first.bin"));
    EXPECT_EQ(files::markText(*map.markFor(downloads + "/first.bin")), "complete, shared");
    // Read once per start: a running transfer's .torrent is not read each tick.
    writeFile(downloads + "/a.torrent", single("second-and-longer.bin"));
    EXPECT_FALSE(map.update({ { downloads + "/a.torrent", 1.0 } }, downloads));
    EXPECT_TRUE(map.markFor(downloads + "/first.bin"));
    EXPECT_TRUE(map.update({}, downloads));
    EXPECT_TRUE(map.update({ { downloads + "/a.torrent", 1.0 } }, downloads));
    EXPECT_FALSE(map.markFor(downloads + "/first.bin"));
    EXPECT_TRUE(map.markFor(downloads + "/second-and-longer.bin"));
    // A fraction out of range is held to it.
    map.update({ { downloads + "/a.torrent", -3 } }, downloads);
    EXPECT_EQ(files::markText(*map.markFor(downloads + "/second-and-longer.bin")), "arriving 0 %");
}

TEST(InUseMessageTest, SaysWhyAndThatNothingChanged)
{
    files::ArrivalMark mark { files::ArrivalMark::Role::TorrentFile, 0.5 };
    EXPECT_EQ(files::inUseMessage("a.torrent", mark),
        "\"a.torrent\" is the .torrent file of a running transfer (50 %). Stop the transfer in the Transfer tab first. Nothing was changed.");
    // Complete and seeding: shared, not written, nor "transferring 100 %".
    files::ArrivalMark shared { files::ArrivalMark::Role::Written, 1.0 };
    EXPECT_EQ(files::inUseMessage("a.bin", shared),
        "\"a.bin\" is being shared by a transfer. Stop the transfer in the Transfer tab first. Nothing was changed.");
    EXPECT_EQ(files::markText({ files::ArrivalMark::Role::TorrentFile, 1.0 }), "complete, shared");
}

} // namespace
