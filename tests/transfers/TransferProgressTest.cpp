// What a person follows of a transfer, reckoned from status lines on the
// tick: state, time left smoothed over the last seconds, completion once.
#include "transfers/TransferProgress.h"

#include <gtest/gtest.h>

namespace {

StatusLine line(long long have, long long total = 64, long long seeders = 1, long long downKB = 256, long long upKB = 0)
{
    StatusLine l;
    l.seeders = seeders;
    l.piecesHave = have;
    l.piecesTotal = total;
    l.downRateKB = downKB;
    l.upRateKB = upKB;
    return l;
}

TEST(TransferProgressTest, StatesFollowTheLinesAndWhatTheUserDid)
{
    TransferProgress p;
    EXPECT_EQ(p.state(), TransferState::Idle);
    EXPECT_EQ(p.stateText(), "");
    p.tick(line(3), 0);
    EXPECT_EQ(p.state(), TransferState::Idle) << "no child, no lines taken";
    p.started();
    EXPECT_EQ(p.stateText(), "Connecting");
    EXPECT_EQ(p.percentText(), "");
    EXPECT_EQ(p.timeLeftText(), "Time left: \u2014");
    p.tick(line(0, 64, 0, 0), 1);
    EXPECT_EQ(p.stateText(), "Waiting for peers") << "no peer connected, nothing coming";
    p.tick(line(5), 2);
    EXPECT_EQ(p.stateText(), "Downloading");
    EXPECT_EQ(p.percentText(), "7 %");
    p.tick(std::nullopt, 3);
    EXPECT_EQ(p.percentText(), "7 %") << "a chunk without a line keeps the values";
    EXPECT_EQ(p.ratesText(), "\u2193 256 KB/s   \u2191 0 KB/s");
    p.paused();
    EXPECT_EQ(p.stateText(), "Paused");
    EXPECT_EQ(p.ratesText(), "") << "a held client moves nothing";
    p.tick(line(6), 4);
    EXPECT_EQ(p.stateText(), "Paused");
    p.resumed();
    EXPECT_EQ(p.stateText(), "Downloading");
    p.tick(line(63, 64), 5);
    EXPECT_EQ(p.percentText(), "98 %") << "100 % only with every piece";
    p.tick(line(64, 64, 0, 0, 12), 6);
    EXPECT_EQ(p.stateText(), "Seeding (complete)");
    EXPECT_EQ(p.percentText(), "100 %");
    EXPECT_EQ(p.timeLeftText(), "Complete");
    EXPECT_EQ(p.ratesText(), "\u2193 0 KB/s   \u2191 12 KB/s");
    p.stopped();
    EXPECT_EQ(p.stateText(), "Stopped");
    p.ended(143);
    EXPECT_EQ(p.stateText(), "Stopped") << "the end of a stopped child is the stop";

    p.started();
    p.tick(line(1), 11);
    p.ended(0);
    EXPECT_EQ(p.stateText(), "Ended");
    p.started();
    p.ended(2);
    EXPECT_EQ(p.stateText(), "Ended (exit status 2)");
    p.resumed();
    EXPECT_EQ(p.stateText(), "Ended (exit status 2)");
}

TEST(TransferProgressTest, AStuckClientSaysWhatIsHappening)
{
    TransferProgress p;
    p.started();
    auto connecting = line(0, 64, 0, 0);
    connecting.note = "Connecting";
    p.tick(connecting, 0);
    EXPECT_EQ(p.stateText(), "Connecting") << "the client's own word while it reaches the tracker";
    // A peer, but no piece for half a minute.
    for (int t = 1; t < 31; ++t) {
        p.heard(t);
        p.tick(line(3, 64, 1, 0), t);
    }
    EXPECT_EQ(p.stateText(), "Downloading") << "not yet half a minute without a piece";
    p.heard(31);
    p.tick(line(3, 64, 1, 0), 31);
    EXPECT_EQ(p.stateText(), "Stalled: no peer is sending");
    p.heard(32);
    p.tick(line(4, 64, 1, 30), 32);
    EXPECT_EQ(p.stateText(), "Downloading") << "a new piece ends the stall";
    // Silence: stopped from outside, or hung.
    p.tick(std::nullopt, 61);
    EXPECT_EQ(p.stateText(), "Downloading");
    p.tick(std::nullopt, 62);
    EXPECT_EQ(p.stateText(), "Not responding");
    EXPECT_EQ(p.ratesText(), "") << "its last rate is no rate";
    // One the person paused is paused, however quiet.
    p.paused();
    p.tick(std::nullopt, 200);
    EXPECT_EQ(p.stateText(), "Paused");
    p.resumed();
    p.tick(std::nullopt, 201);
    EXPECT_EQ(p.stateText(), "Downloading") << "silence counts from the resume";
    // A full disk holds it until the person resumes.
    p.paused();
    p.diskFull();
    EXPECT_EQ(p.stateText(), "Disk full: paused");
    EXPECT_TRUE(p.isHeld());
    p.resumed();
    EXPECT_FALSE(p.isDiskFull());
}

TEST(TransferProgressTest, TimeLeftIsSmoothedAndUnknownUntilPiecesCome)
{
    TransferProgress p;
    p.started();
    p.tick(line(0), 0);
    p.tick(line(0), 1);
    EXPECT_FALSE(p.secondsLeft()) << "nothing came yet";
    p.started();
    p.tick(line(0), 1);
    p.tick(line(2), 2);
    EXPECT_FALSE(p.secondsLeft()) << "one second is too short to tell";
    // Two pieces a second, steadily.
    for (int t = 3; t <= 10; ++t)
        p.tick(line(2 * (t - 1)), t);
    ASSERT_TRUE(p.secondsLeft());
    EXPECT_NEAR(*p.secondsLeft(), (64 - 18) / 2.0, 0.01);
    EXPECT_EQ(p.timeLeftText(), "Time left: 23 s");
    // One second of a burst does not swing it much.
    p.tick(line(18 + 20), 11);
    ASSERT_TRUE(p.secondsLeft());
    EXPECT_GT(*p.secondsLeft(), 5);
    // Long stalls age out: nothing came in the whole window.
    for (int t = 12; t <= 12 + int(TransferProgress::window) + 1; ++t)
        p.tick(line(38), t);
    EXPECT_FALSE(p.secondsLeft());
    EXPECT_EQ(p.timeLeftText(), "Time left: \u2014");
    // A pause is no slow download: after it, the history starts over.
    p.tick(line(40), 40);
    p.tick(line(44), 42);
    p.tick(line(48), 44);
    ASSERT_TRUE(p.secondsLeft());
    p.paused();
    EXPECT_FALSE(p.secondsLeft());
    p.resumed();
    p.tick(line(48), 100);
    EXPECT_FALSE(p.secondsLeft());
    // Well-formed but absurd figures from a client give no time, not a nonsense one.
    const long long most = 999'999'999'999'999'999;
    for (int t = 101; t <= 104; ++t)
        p.tick(line(t - 100, most), t);
    EXPECT_FALSE(p.secondsLeft());
    EXPECT_EQ(p.timeLeftText(), "Time left: \u2014");
    EXPECT_EQ(TransferProgress::durationText(1e300), "\u2014");
}

TEST(TransferProgressTest, CompletionIsToldOncePerTransfer)
{
    TransferProgress p;
    p.started();
    p.tick(line(64, 64, 0, 0), 1);
    EXPECT_FALSE(p.takeCompletion()) << "complete from the start: nothing was downloaded";
    p.started();
    p.tick(line(10), 3);
    EXPECT_FALSE(p.takeCompletion());
    p.tick(line(64), 4);
    EXPECT_TRUE(p.takeCompletion());
    p.tick(line(64), 5);
    p.clientSaidComplete();
    EXPECT_FALSE(p.takeCompletion());
    p.ended(0);
    EXPECT_EQ(p.stateText(), "Ended (complete)");
    // The client's own word counts even when no line showed the pieces.
    p.started();
    p.clientSaidComplete();
    EXPECT_TRUE(p.takeCompletion());
}

TEST(TransferProgressTest, RatesAndDurationsInHumanUnits)
{
    EXPECT_EQ(TransferProgress::rateText(0), "0 KB/s");
    EXPECT_EQ(TransferProgress::rateText(999), "999 KB/s");
    EXPECT_EQ(TransferProgress::rateText(2200), "2.1 MB/s");
    EXPECT_EQ(TransferProgress::rateText(3 * 1024 * 1024), "3.0 GB/s");
    EXPECT_EQ(TransferProgress::durationText(42.4), "42 s");
    EXPECT_EQ(TransferProgress::durationText(125), "2 min 05 s");
    EXPECT_EQ(TransferProgress::durationText(3 * 3600 + 7 * 60), "3 h 07 min");
    EXPECT_EQ(TransferProgress::durationText(5 * 86400), "5 days");
    EXPECT_EQ(TransferProgress::durationText(-3), "0 s");
}

} // namespace
