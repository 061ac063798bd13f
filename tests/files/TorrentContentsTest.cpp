// The .torrent reader shared by the opener and the files tab, with hostile
// descriptions, and the map of what running transfers use.
#include "files/Arrivals.h"
#include "torrent/Bencode.h"
#include "torrent/Magnet.h"
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

// Magnet links: both spellings of the hash, a hybrid's v1 hash, and what is refused or cut.
TEST(MagnetTest, ReadsWhatALinkNamesAndRefusesOrCutsTheRest)
{
    auto hex = torrent::parseMagnet("magnet:?xt=urn:btih:0123456789ABCDEF0123456789abcdef01234567&dn=My+film%2F2&tr=udp%3A%2F%2Ft.example%3A6969"
                                    "&tr=http://a/announce&tr=ftp://no&x.pe=127.0.0.2:6881&x.pe=[::1]:5&x.pe=host:0");
    ASSERT_TRUE(hex.magnet) << hex.problem;
    EXPECT_EQ(hex.magnet->hashText(), "0123456789abcdef0123456789abcdef01234567");
    EXPECT_EQ(hex.magnet->name, "My film_2") << "a file name of one component";
    EXPECT_EQ(hex.magnet->trackers, (std::vector<std::string> { "udp://t.example:6969", "http://a/announce" }));
    EXPECT_EQ(hex.magnet->peers, (std::vector<torrent::MagnetPeer> { { "127.0.0.2", 6881 } }));
    EXPECT_FALSE(hex.magnet->hybrid);
    auto again = torrent::parseMagnet(hex.magnet->link());
    ASSERT_TRUE(again.magnet);
    EXPECT_EQ(again.magnet->infoHash, hex.magnet->infoHash);
    EXPECT_EQ(again.magnet->name, "My film_2");

    // Base32, beside a v2 hash: a hybrid, downloaded by its v1 hash.
    auto hybrid = torrent::parseMagnet("MAGNET:?xt.1=urn:btmh:1220aa&xt.2=urn:btih:AEBAGBAFAYDQQCIKBMGA2DQPCAIREEYU");
    ASSERT_TRUE(hybrid.magnet) << hybrid.problem;
    EXPECT_EQ(hybrid.magnet->hashText(), "0102030405060708090a0b0c0d0e0f1011121314");
    EXPECT_TRUE(hybrid.magnet->hybrid);
    EXPECT_EQ(hybrid.magnet->displayName(), "0102030405060708090a0b0c0d0e0f1011121314") << "no dn: its hash";

    EXPECT_EQ(torrent::parseMagnet("magnet:?xt=urn:btmh:1220aa").problem,
        "This magnet link names only a version 2 torrent, which the transfer client cannot download.");
    EXPECT_FALSE(torrent::parseMagnet("magnet:?xt=urn:btih:0123").magnet);
    EXPECT_FALSE(torrent::parseMagnet("magnet:?dn=x").magnet);
    EXPECT_FALSE(torrent::parseMagnet("http://example.com/a.torrent").magnet);
    std::string crowded = "magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567";
    for (int i = 0; i < 500; ++i)
        crowded += "&tr=http://t" + std::to_string(i) + "/announce&x.pe=10.0.0.1:" + std::to_string(1000 + i);
    auto cut = torrent::parseMagnet(crowded);
    ASSERT_TRUE(cut.magnet);
    EXPECT_EQ(cut.magnet->trackers.size(), torrent::Magnet::maxTrackers);
    EXPECT_EQ(cut.magnet->peers.size(), torrent::Magnet::maxPeers);
    EXPECT_FALSE(torrent::parseMagnet(crowded + std::string(torrent::Magnet::maxLength, 'x')).magnet);

    // Within the bound, but its kept form escapes every '/': it still reads back whole, as stored.
    std::string slashes = "magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567";
    for (int i = 0; i < 30; ++i)
        slashes += "&tr=udp://t" + std::to_string(i) + ":1/" + std::string(1900, '/');
    auto kept = torrent::parseMagnet(slashes);
    ASSERT_TRUE(kept.magnet) << kept.problem;
    EXPECT_GT(kept.magnet->trackers.size(), 0u);
    EXPECT_LE(kept.magnet->link().size(), torrent::Magnet::maxLength);
    auto back = torrent::parseMagnet(kept.magnet->link());
    ASSERT_TRUE(back.magnet) << back.problem;
    EXPECT_EQ(back.magnet->trackers, kept.magnet->trackers);
}
