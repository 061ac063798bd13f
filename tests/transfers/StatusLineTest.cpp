// The status line reader on output recorded from the real transfer client in
// the loopback swarm (tests/transfers/data, made with tests/e2e/record_client.py),
// and on lines that are not whole.
#include "tests/support/TempFolder.h"
#include "transfers/StatusLine.h"

#include <gtest/gtest.h>

namespace {

std::string recorded(const std::string& name)
{
    return testsupport::readFile(std::string(TRANSFER_DATA_DIR) + "/" + name + ".out");
}

// Every line of a recording that reads as a status line, in order.
std::vector<StatusLine> statusLines(const std::string& output)
{
    std::vector<StatusLine> lines;
    size_t start = 0;
    while (start <= output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        if (auto line = parseStatusLine(std::string_view(output).substr(start, end - start)))
            lines.push_back(*line);
        start = end + 1;
    }
    return lines;
}

TEST(StatusLineTest, ReadsEveryFieldOfARealDownloadingLine)
{
    auto line = parseStatusLine("/ 1/0/2 [17/64/64] 1MB,0MB | 279,0K/s | 288,0K E:0,1 ");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->spinner, '/');
    EXPECT_EQ((std::array { line->seeders, line->leechers, line->peers }), (std::array { 1LL, 0LL, 2LL }));
    EXPECT_EQ((std::array { line->piecesHave, line->piecesTotal, line->piecesAvailable }), (std::array { 17LL, 64LL, 64LL }));
    EXPECT_EQ((std::array { line->downloadedMB, line->uploadedMB }), (std::array { 1LL, 0LL }));
    EXPECT_EQ((std::array { line->downRateKB, line->upRateKB }), (std::array { 279LL, 0LL }));
    EXPECT_EQ((std::array { line->downCountKB, line->upCountKB }), (std::array { 288LL, 0LL }));
    EXPECT_EQ((std::array { line->trackerFailures, line->trackerSuccesses }), (std::array { 0LL, 1LL }));
    EXPECT_EQ(line->note, "");
    EXPECT_DOUBLE_EQ(line->fraction(), 17.0 / 64);
    EXPECT_FALSE(line->complete());

    auto first = parseStatusLine("- 0/0/1 [0/64/0] 0MB,0MB | 0,0K/s | 0,0K E:0,0 Connecting                       ");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->note, "Connecting");
    auto seeding = parseStatusLine("| 0/1/3 [64/64/64] 0MB,3MB | 0,279K/s | 0,256K E:0,2   ");
    ASSERT_TRUE(seeding);
    EXPECT_TRUE(seeding->complete());
    EXPECT_EQ(seeding->upRateKB, 279);
}

TEST(StatusLineTest, RecordedTransfersReadInOrder)
{
    // Download, pause (no lines while stopped), resume, complete, seed, quit.
    auto lines = statusLines(recorded("download-pause-seed"));
    ASSERT_GE(lines.size(), 25u);
    EXPECT_EQ(lines.front().piecesHave, 0);
    EXPECT_EQ(lines.front().note, "Connecting");
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_GE(lines[i].piecesHave, lines[i - 1].piecesHave) << "pieces only grow";
    EXPECT_TRUE(lines.back().complete());
    EXPECT_EQ(lines.back().note, "Quitting");
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](auto& l) { return l.downRateKB > 100 && !l.complete(); }));

    // Stop when complete: the client ends right after its last line.
    auto ending = statusLines(recorded("stop-when-complete"));
    ASSERT_FALSE(ending.empty());
    EXPECT_TRUE(ending.back().complete());

    // No peer to get pieces from: peers are known, none connected, nothing comes.
    for (auto& l : statusLines(recorded("no-peers"))) {
        EXPECT_EQ(l.seeders + l.leechers, 0);
        EXPECT_EQ(l.piecesHave, 0);
    }
    // No tracker: the failure count says so.
    auto lonely = statusLines(recorded("tracker-unreachable"));
    ASSERT_GE(lonely.size(), 5u);
    EXPECT_EQ(lonely.back().trackerFailures, 1);
    EXPECT_EQ(lonely.back().piecesAvailable, 0);

    // The seeder's side, written to a file: uploads only.
    auto seeder = statusLines(recorded("seeding-upload"));
    ASSERT_GE(seeder.size(), 5u);
    EXPECT_TRUE(std::all_of(seeder.begin() + 1, seeder.end(), [](auto& l) { return l.complete() && l.downRateKB == 0; }));
    EXPECT_TRUE(std::any_of(seeder.begin(), seeder.end(), [](auto& l) { return l.upRateKB > 100; }));
}

TEST(StatusLineTest, TheLastWholeLineOfAChunkCounts)
{
    EXPECT_EQ(lastStatusLine("\n| 1/0/2 [12/64/64] 0MB,0MB | 256,0K/s | 288,0K E:0,1 ")->piecesHave, 12);
    // Two lines: the later one, also when something else follows it.
    auto two = lastStatusLine("\n| 1/0/2 [12/64/64] 0MB,0MB | 256,0K/s | 288,0K E:0,1 \n"
                              "/ 1/0/2 [16/64/64] 1MB,0MB | 264,0K/s | 288,0K E:0,1 \nDownload complete.\n");
    ASSERT_TRUE(two);
    EXPECT_EQ(two->piecesHave, 16);
    // A line cut short at the end of a read gives way to the whole one before it.
    auto cut = lastStatusLine("\n| 1/0/2 [12/64/64] 0MB,0MB | 256,0K/s | 288,0K E:0,1 \n/ 1/0/2 [16/64/64] 1MB,0M");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->piecesHave, 12);
    EXPECT_FALSE(lastStatusLine("Download complete.\nTotal time used: 0 minutes.\nSeed for others 72 hours\n"));
    EXPECT_FALSE(lastStatusLine(""));
    EXPECT_FALSE(lastStatusLine("\n\n\r"));
}

TEST(StatusLineTest, AnythingNotWholeIsNoLine)
{
    for (const char* text : {
             "x [a] b,c|d,eK/s | f", // the cut's worked example
             "| 1/0/2 [12/64/64] 0MB,0MB | 256,0K/s | 288,0K E:0,", // cut inside the last number
             "| 1/0/2 [12/64/64] 0MB,0MB | 256,0K/s | 288,0K", // cut before E:
             " 1/0/2 [12/64/64] 0MB,0MB | 256,0K/s | 288,0K E:0,1", // no spinner
             "| 1/0/2 [65/64/64] 0MB,0MB | 256,0K/s | 288,0K E:0,1", // more pieces than there are
             "| 1/0/2 [-1/64/64] 0MB,0MB | 256,0K/s | 288,0K E:0,1", // a sign
             "| 1/0/2 [1/64/64] 0MB,0MB | 256,0K/s | 288,0K E:0,1x", // the last number runs on
             "| 1/0/2 [99999999999999999999/64/64] 0MB,0MB | 256,0K/s | 288,0K E:0,1", // too large
             "|| 1/0/2 [1/64/64] 0MB,0MB | 256,0K/s | 288,0K E:0,1",
         })
        EXPECT_FALSE(parseStatusLine(text)) << text;
}

} // namespace
