// The client's error lines in words: what the real client printed for a
// garbage .torrent, a missing one and a read-only downloads folder.
#include "transfers/ClientFailure.h"

#include <gtest/gtest.h>

namespace {

std::optional<std::string> wordsFor(std::initializer_list<std::string_view> chunks, bool finish = true)
{
    ClientFailure failure;
    for (auto chunk : chunks)
        failure.feed(chunk);
    if (finish)
        failure.finish();
    return failure.words();
}

TEST(ClientFailureTest, TheClientsErrorsReadAsPlainWords)
{
    EXPECT_EQ(wordsFor({ "error, initial meta info failed.\n" }), "Not a valid torrent file");
    EXPECT_EQ(wordsFor({ "Creating file \"data.bin\"\nerror, create file \"data.bin\" failed:  Permission denied\n"
                         "error, initial meta info failed.\n" }),
        "Cannot write to the downloads folder: permission denied")
        << "the specific reason wins over the closing word";
    EXPECT_EQ(wordsFor({ "error, create file \"x\" failed:  Operation not permitted\nerror, initial meta info failed." }),
        "Cannot write to the downloads folder: operation not permitted");
    EXPECT_EQ(wordsFor({ "error, open \"nothere.torrent\" failed:  No such file or directory\nerror, initial meta info failed.\n" }),
        "Cannot read the torrent file: no such file or directory");
    EXPECT_EQ(wordsFor({ "warn, WriteSlice failed; is filesystem full?\n" }), "Cannot write to the downloads folder: is the disk full?");
    EXPECT_EQ(wordsFor({ "error, unsafe path \"../x\" in torrent data\n" }).value_or("").rfind("Not a valid torrent file: ", 0), 0u);
}

TEST(ClientFailureTest, OrdinaryOutputIsNoFailure)
{
    EXPECT_EQ(wordsFor({ "META INFO\nAnnounce: http://t/announce\n\n| 0/0/1 [1/8/1] 0MB,0MB | 10,5K/s | 2,1K E:0,1     " }), std::nullopt);
    EXPECT_EQ(wordsFor({ "warn, piece 3 hash check failed.\nConnect to peer at 1.2.3.4:5 failed:  Connection refused\n" }), std::nullopt);
    EXPECT_EQ(wordsFor({ "something error, create file \"x\" failed:  Permission denied\n" }), std::nullopt)
        << "only a line the client begins with its error word";
}

TEST(ClientFailureTest, ALineCutBetweenReadsIsReadWhole)
{
    EXPECT_EQ(wordsFor({ "\nerror, create fi", "le \"a b\" failed:  Permission de", "nied\nerror, initial meta info failed." }),
        "Cannot write to the downloads folder: permission denied");
    EXPECT_EQ(wordsFor({ "\nerror, initial meta info failed." }, false), std::nullopt) << "a line is read once it ends";
    EXPECT_EQ(wordsFor({ "\nerror, initial meta info failed." }), "Not a valid torrent file") << "the end of output ends it";
}

} // namespace
