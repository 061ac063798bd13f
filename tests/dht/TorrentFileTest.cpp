#include "dht/TorrentFile.h"

#include "torrent/TorrentContents.h"

#include <gtest/gtest.h>

namespace {

std::string text(std::string_view s) { return std::to_string(s.size()) + ":" + std::string(s); }

std::string fileEntry(std::string_view path)
{
    return "d6:lengthi1e4:pathl" + text(path) + "ee";
}

// A two-file dictionary with its keys out of order, as a careless maker writes
// them: the bytes must come through untouched.
const std::string goodInfo = "d4:name6:sample5:filesl" + fileEntry("a.bin") + fileEntry("b.bin")
    + "e12:piece lengthi16384e6:pieces20:" + std::string(20, 'x') + "e";

} // namespace

TEST(TorrentFileTest, WrapsTheInfoBytesAsTheyCameWithTheTrackersAsTiers)
{
    auto none = dht::torrentFileFor(goodInfo, {});
    ASSERT_FALSE(none.isError()) << none.error().message;
    EXPECT_EQ(none.value(), "d8:announce" + text(dht::placeholderTracker) + "4:info" + goodInfo + "e");

    auto two = dht::torrentFileFor(goodInfo, { "udp://a.example:80/announce", "", "http://b.example/announce" });
    ASSERT_FALSE(two.isError()) << two.error().message;
    EXPECT_EQ(two.value(), "d8:announce" + text("udp://a.example:80/announce") + "13:announce-listl"
            + "l" + text("udp://a.example:80/announce") + "e" + "l" + text("http://b.example/announce") + "e"
            + "e4:info" + goodInfo + "e");
    auto contents = torrent::readContents(two.value());
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->files, (std::vector<std::string> { "sample/a.bin", "sample/b.bin" }));
}

TEST(TorrentFileTest, RefusesMetadataTheClientCannotTakeSayingWhy)
{
    auto refusal = [](const std::string& info) {
        auto made = dht::torrentFileFor(info, { "http://t.example/announce" });
        return made.isError() ? made.error().message : std::string("accepted");
    };
    const std::string pieces = "6:pieces20:" + std::string(20, 'x');

    std::string crowded = "d5:filesl";
    for (size_t i = 0; i <= torrent::maxFileCount; ++i)
        crowded += "d6:lengthi1e4:pathl1:fee";
    crowded += "e4:name1:a12:piece lengthi16384e" + pieces + "e";
    EXPECT_NE(refusal(crowded).find("more than 200000 files"), std::string::npos) << refusal(crowded);

    EXPECT_NE(refusal("d6:lengthi1e4:name2:..12:piece lengthi16384e" + pieces + "e").find("not a safe file name"), std::string::npos);
    EXPECT_NE(refusal("d6:lengthi1e4:name5:a/b/c12:piece lengthi16384e" + pieces + "e").find("not a safe file name"), std::string::npos);
    for (std::string path : { "l2:..e", "l3:a/be", "l1:a0:e", "le" }) {
        auto info = "d5:filesl" + fileEntry("ok") + "d6:lengthi1e4:path" + path + "ee4:name1:a12:piece lengthi16384e" + pieces + "e";
        EXPECT_NE(refusal(info).find("file 2 "), std::string::npos) << path << ": " << refusal(info);
    }

    // The second version alone: files in a tree, no "pieces". A hybrid carries both and is taken.
    std::string tree = "9:file treed1:ad0:d6:lengthi1e11:pieces root32:" + std::string(32, 'r') + "eee";
    EXPECT_NE(refusal("d" + tree + "12:meta versioni2e4:name1:a12:piece lengthi16384ee").find("second version"), std::string::npos);
    EXPECT_EQ(refusal("d" + tree + "6:lengthi1e12:meta versioni2e4:name1:a12:piece lengthi16384e" + pieces + "e"), "accepted");

    EXPECT_NE(refusal("d4:name1:a12:piece lengthi16384e6:pieces3:abce").find("no piece hashes"), std::string::npos);
    EXPECT_NE(refusal("d4:name1:a12:piece lengthi16384e" + pieces + "e").find("no file length"), std::string::npos);
    for (std::string bytes : { std::string(), std::string("le"), std::string("d4:name1:a"), goodInfo + "x" })
        EXPECT_EQ(refusal(bytes), "The metadata is not one bencoded dictionary.") << bytes;
}
