// The list of transfers on its own: the stored list's form, what a restart
// brings back, and which recorded process counts as a client left running.
#include "tests/support/LogCapture.h"
#include "tests/support/TempFolder.h"
#include "app/Quorvane.h"
#include "kit/core/ChildProcess.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/core/RunLoop.h"
#include "kit/core/UserDefaults.h"
#include "kit/testing/TestEnvironment.h"
#include "transfers/ControlDevice.h"
#include "transfers/TransferDetailsViewController.h"
#include "transfers/TransferService.h"
#include "transfers/TransferList.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::writeFile;

class TransferListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        layout.setRoot(root.path());
        layout.prepare();
        kit::UserDefaults::standard().open(layout.settingsFile());
        // A client that runs until told to end; it notes each start.
        writeFile(layout.ctorrentPath(),
            "#!/bin/bash\necho \"$$ ${@: -1}\" >> \"" + root / "starts" + "\"\ntrap 'exit 0' TERM\nwhile :; do sleep 0.05; done\n", true);
    }

    void TearDown() override
    {
        kit::ChildProcess::terminateAll();
        loop.runUntil([] { return kit::ChildProcess::runningCount() == 0; }, 10);
        layout.setRoot("");
    }

    bool logShows(const std::string& part)
    {
        for (auto& line : log.lines())
            if (line.find(part) != std::string::npos)
                return true;
        return false;
    }

    // A client that speaks the control channel as the real one does: it
    // connects with the password from its standard input, answers SENDSTATUS
    // and SENDDETAIL for four files of 16 pieces, quits on CTQUIT after a
    // moment, and once told to fetch files 1-3 has them and says so on its
    // output. Each start notes its arguments.
    void channelClient()
    {
        writeFile(layout.ctorrentPath(),
            "#!/bin/bash\necho \"$$ $*\" >> \"" + root / "starts" + "\"\n"
            "addr=${2%:}; read -r pw\nexec 3<>/dev/tcp/127.0.0.1/${addr##*:}\n"
            "printf 'PROTOCOL 0003\\nAUTH %s\\n\\nCTORRENT -QV0001-%s %s %s %s\\n' \"$pw\" $$ $(date +%s) $(date +%s) \"${@: -1}\" >&3\n"
            "have=1; since=0\ntrap 'exit 0' TERM\n"
            "while read -r line <&3; do case \"$line\" in\n"
            "  CTQUIT*) sleep 0.3; exit 0;;\n"
            "  'CTCONFIG file_list 1-3') have=48; since=1; echo 'Download complete.';;\n"
            "  SENDSTATUS*) printf 'CTSTATUS 1:0/0:1/0 %s/64/64 0,0 0,0 0,0 0\\n' $have >&3;;\n"
            "  SENDDETAIL*) { echo \"CTDETAIL 4194304 65536 1 $since\"; echo CTFILESTART\n"
            "    for n in 1 2 3 4; do h=$(( n < 4 && have > 1 ? 16 : 0 )); echo \"CTFILE $n 0 0 16 $h 16 1048576 $n.bin\"; done\n"
            "    echo CTFILESDONE; } >&3;;\n"
            "esac; done\n",
            true);
    }

    // The arguments of the client's `count`th start, once it has noted them.
    std::string lastStart(size_t count)
    {
        EXPECT_TRUE(loop.runUntil([&] { return starts() >= count; }, 10));
        auto text = readFile(root / "starts");
        text.pop_back();
        return text.substr(text.rfind('\n') + 1);
    }

    // Ticks until `done` holds, giving the clients a moment each second.
    bool tickUntil(const std::function<bool()>& done)
    {
        for (int i = 0; i < 30 && !done(); ++i) {
            loop.advance(1.0);
            loop.runUntil(done, 0.3);
        }
        return done();
    }

    size_t starts()
    {
        auto text = std::filesystem::exists(root / "starts") ? readFile(root / "starts") : "";
        return size_t(std::count(text.begin(), text.end(), '\n'));
    }

    kit::TestEnvironment env;
    kit::RunLoop& loop { env.loop() };
    kit::DeviceLayout& layout { kit::DeviceLayout::current() };
    TempFolder root;
    testsupport::LogCapture log;
};

TEST_F(TransferListTest, TheStoredListReadsBackAsWrittenAndNothingTornOrForeignIsRead)
{
    TransferOptions limited;
    limited.downloadLimit = 100;
    limited.stopWhenComplete = true;
    std::vector<TransferStore::Record> records {
        { "/d/a\tb\\c\n.torrent", "a\tb", StoredState::Running, 4242, limited, std::pair { 3LL, 8LL }, true },
        { "/d/q.torrent", "q", StoredState::Queued, std::nullopt, {}, std::nullopt, false },
        { "/d/p.torrent", "p", StoredState::Paused, 17, {}, std::nullopt, false },
        { "/d/s.torrent", "s", StoredState::Stopped, std::nullopt, {}, std::nullopt, false },
        { "/d/c.torrent", "c", StoredState::Complete, std::nullopt, {}, std::nullopt, false },
    };
    auto text = TransferStore::encode(records);
    auto back = TransferStore::decode(text);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), records.size());
    EXPECT_EQ((*back)[0].path, records[0].path) << "tabs, backslashes and line breaks in a path survive";
    EXPECT_EQ((*back)[0].name, "a\tb");
    EXPECT_EQ((*back)[0].pid, 4242);
    EXPECT_EQ((*back)[0].options.downloadLimit, 100);
    EXPECT_FALSE((*back)[0].options.uploadLimit);
    EXPECT_TRUE((*back)[0].options.stopWhenComplete);
    EXPECT_EQ((*back)[0].pieces, (std::pair { 3LL, 8LL })) << "how far it got is shown again after a restart";
    EXPECT_TRUE((*back)[0].completionTold) << "a completion is told once per transfer";
    EXPECT_FALSE((*back)[1].pieces);
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ((*back)[i].state, records[i].state);

    EXPECT_FALSE(TransferStore::decode(text.substr(0, text.size() - 3))) << "a list written half is no list";
    EXPECT_FALSE(TransferStore::decode(""));
    EXPECT_FALSE(TransferStore::decode("quorvane-transfers 1\nflying\t\t\t\tNo\t/a\ta\n"));
    EXPECT_FALSE(TransferStore::decode("quorvane-transfers 1\nrunning\t1\t\t\tNo\t/a\ta\n")) << "pid 1 is never a client";
    EXPECT_FALSE(TransferStore::decode("quorvane-transfers 1\nrunning\t-5\t\t\tNo\t/a\ta\n"));
    EXPECT_FALSE(TransferStore::decode("quorvane-transfers 1\nrunning\t\t0\t\tNo\t/a\ta\n")) << "a limit is 1 or more";
    EXPECT_FALSE(TransferStore::decode("quorvane-transfers 1\nrunning\t\t\t\tNo\t\ta\n")) << "no path";
    EXPECT_FALSE(TransferStore::decode("settings 1\n"));
    EXPECT_TRUE(TransferStore::decode("quorvane-transfers 1\n")) << "an empty list is a list";
    auto older = TransferStore::decode("quorvane-transfers 1\nrunning\t\t\t\tNo\t/a\ta\n");
    ASSERT_TRUE(older) << "a list of the first format is read";
    EXPECT_EQ((*older)[0].path, "/a");
    EXPECT_FALSE(TransferStore::decode("quorvane-transfers 2\nrunning\t\t\t\tNo\t/a\ta\t9/8\tNo\n")) << "more pieces than in all";
}

TEST_F(TransferListTest, TheLimitComesFromTheSettingsWithThreeForNothingOrNonsense)
{
    auto& d = kit::UserDefaults::standard();
    EXPECT_EQ(TransferList::storedLimit(d), 3);
    d.setObject("5", TransferList::limitKey);
    EXPECT_EQ(TransferList::storedLimit(d), 5);
    for (auto bad : { "0", "-2", "21", "two", "3.5", "" }) {
        d.setObject(bad, TransferList::limitKey);
        EXPECT_EQ(TransferList::storedLimit(d), 3) << bad;
    }
    EXPECT_EQ(TransferList::limitProblem("20"), "");
    EXPECT_NE(TransferList::limitProblem("21"), "");
}

TEST_F(TransferListTest, OnlyTheClientOnThatTorrentCountsAsLeftRunning)
{
    auto client = kit::ChildProcess::create();
    client->setLaunchPath(layout.ctorrentPath());
    client->setArguments({ "-D", "5", "/d/a.torrent" });
    ASSERT_TRUE(client->launch());
    auto other = kit::ChildProcess::create();
    other->setLaunchPath("/bin/sleep");
    other->setArguments({ "30" });
    ASSERT_TRUE(other->launch());
    // The script's interpreter runs it: give it a moment to replace the fork.
    ASSERT_TRUE(loop.runUntil([&] { return TransferList::isClientOn(client->processIdentifier(), "/d/a.torrent"); }, 10));
    EXPECT_TRUE(TransferList::isClientOn(client->processIdentifier(), "/d/./a.torrent")) << "the same path, spelt otherwise";
    EXPECT_FALSE(TransferList::isClientOn(client->processIdentifier(), "/d/b.torrent")) << "a client on another torrent";
    EXPECT_FALSE(TransferList::isClientOn(other->processIdentifier(), "/d/a.torrent")) << "a reused process id";
    EXPECT_FALSE(TransferList::isClientOn(1, "/d/a.torrent"));
    EXPECT_FALSE(TransferList::isClientOn(0, "/d/a.torrent"));
    client->terminate();
    other->terminate();
    ASSERT_TRUE(loop.runUntil([&] { return !client->isRunning(); }, 10));
    EXPECT_FALSE(TransferList::isClientOn(client->processIdentifier(), "/d/a.torrent")) << "an ended one";
}

TEST_F(TransferListTest, ACorruptListStartsEmptySaysSoAndIsKeptAside)
{
    writeFile(TransferStore::path(), "quorvane-transfers 1\nrunning\tgarbage\n");
    auto list = std::make_shared<TransferList>();
    list->restore();
    EXPECT_TRUE(list->transfers().empty());
    EXPECT_TRUE(logShows("cannot be read"));
    EXPECT_TRUE(std::filesystem::exists(TransferStore::path() + ".corrupt"));
    EXPECT_EQ(starts(), 0u);

    auto fresh = std::make_shared<TransferList>();
    std::filesystem::remove(TransferStore::path());
    fresh->restore();
    EXPECT_TRUE(logShows("No stored list of transfers"));
}

TEST_F(TransferListTest, ARestartStartsTheRunningAndQueuedWithinTheLimitKeepsThePausedAndNeverDoubles)
{
    kit::UserDefaults::standard().setObject("2", TransferList::limitKey);
    TransferOptions limited;
    limited.uploadLimit = 7;
    writeFile(TransferStore::path(),
        TransferStore::encode({
            { "/d/r.torrent", "r", StoredState::Running, std::nullopt, limited, std::nullopt, false },
            { "/d/q.torrent", "q", StoredState::Queued, std::nullopt, {}, std::nullopt, false },
            { "/d/z.torrent", "z", StoredState::Running, std::nullopt, {}, std::nullopt, false },
            { "/d/r.torrent", "r again", StoredState::Running, std::nullopt, {}, std::nullopt, false },
            { "/d/p.torrent", "p", StoredState::Paused, std::nullopt, {}, std::nullopt, false },
            { "/d/s.torrent", "s", StoredState::Stopped, std::nullopt, {}, std::nullopt, false },
        }));
    auto list = std::make_shared<TransferList>();
    list->restore();
    auto& all = list->transfers();
    ASSERT_EQ(all.size(), 5u) << "the same torrent twice in the list is one transfer";
    EXPECT_EQ(list->runningCount(), 2u);
    EXPECT_TRUE(all[0]->hasClient());
    const auto channel = "127.0.0.1:" + std::to_string(ControlDevice::storedPort()) + ":";
    EXPECT_EQ(all[0]->child()->arguments(), (std::vector<std::string> { "-S", channel, "-U", "7", "/d/r.torrent" })) << "its own limits";
    EXPECT_TRUE(all[1]->hasClient());
    EXPECT_TRUE(all[2]->isQueued()) << "past the limit it waits";
    EXPECT_FALSE(all[3]->hasClient());
    EXPECT_TRUE(all[3]->isPaused());
    EXPECT_EQ(all[3]->stateText(), "Paused");
    EXPECT_EQ(all[4]->stateText(), "Stopped");
    EXPECT_EQ(list->front(), all[0].get());

    // What is stored now says so, with the clients' process ids.
    auto stored = TransferStore::decode(readFile(TransferStore::path()));
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->size(), 5u);
    EXPECT_EQ((*stored)[0].state, StoredState::Running);
    EXPECT_EQ((*stored)[0].pid, all[0]->child()->processIdentifier());
    EXPECT_EQ((*stored)[2].state, StoredState::Queued);
    EXPECT_EQ((*stored)[3].state, StoredState::Paused);

    // The queued one starts when one ends; asking for a running one again starts nothing.
    all[1]->stop();
    ASSERT_TRUE(loop.runUntil([&] { return all[2]->hasClient(); }, 10));
    auto running = all[0]->child();
    ASSERT_TRUE(loop.runUntil([&] { return kit::ChildProcess::runningCount() == 2u; }, 10)) << "q's client has ended";
    auto answer = list->ask("/d/r.torrent", "r", {});
    EXPECT_EQ(answer.asked, TransferList::Asked::AlreadyThere);
    EXPECT_EQ(all[0]->child(), running);
    EXPECT_EQ(kit::ChildProcess::runningCount(), 2u) << "no second client on r";
    EXPECT_EQ(list->front(), all[0].get()) << "brought to the front";

    // The end marks every one stopped, with no process id.
    list->endAll();
    stored = TransferStore::decode(readFile(TransferStore::path()));
    ASSERT_TRUE(stored);
    for (auto& record : *stored) {
        EXPECT_EQ(record.state, StoredState::Stopped) << record.path;
        EXPECT_FALSE(record.pid);
    }
}

TEST_F(TransferListTest, RestoredClientsStartAfterTheFirstFrameOrBeforeAnythingAskedOfTheList)
{
    kit::UserDefaults::standard().setObject("1", TransferList::limitKey);
    auto restoreHeld = [&](const std::string& path) {
        writeFile(TransferStore::path(), TransferStore::encode({ { path, "r", StoredState::Running, std::nullopt, {}, std::nullopt, false } }));
        env.platform().holdsFirstFrame = true;
        auto list = std::make_shared<TransferList>();
        list->restore();
        EXPECT_EQ(list->transfers().size(), 1u);
        return list;
    };

    // Once the window is shown, the stored ones start as they always did.
    auto shown = restoreHeld("/d/r.torrent");
    ASSERT_EQ(shown->transfers().size(), 1u);
    EXPECT_FALSE(shown->transfers()[0]->hasClient());
    env.platform().showFirstFrame();
    EXPECT_TRUE(shown->transfers()[0]->hasClient());
    EXPECT_EQ(shown->front(), shown->transfers()[0].get());
    auto stored = TransferStore::decode(readFile(TransferStore::path()));
    ASSERT_TRUE(stored && stored->size() == 1u);
    EXPECT_EQ((*stored)[0].pid, shown->transfers()[0]->child()->processIdentifier());
    shown->endAll();

    // Asked for another before the frame, the stored one still comes first:
    // it takes the one place, the new one waits, and the frame starts nothing more.
    auto asked = restoreHeld("/d/q.torrent");
    ASSERT_EQ(asked->transfers().size(), 1u);
    EXPECT_FALSE(asked->transfers()[0]->hasClient());
    EXPECT_EQ(asked->ask("/d/n.torrent", "n", {}).asked, TransferList::Asked::Queued);
    EXPECT_TRUE(asked->transfers()[0]->hasClient());
    env.platform().showFirstFrame();
    EXPECT_EQ(asked->runningCount(), 1u);
    EXPECT_TRUE(asked->transfers()[1]->isQueued());
}

TEST_F(TransferListTest, AClientLeftRunningIsAdoptedAndStopEndsIt)
{
    auto orphan = kit::ChildProcess::create(); // stands in for one left by a crashed run
    orphan->setLaunchPath(layout.ctorrentPath());
    orphan->setArguments({ "/d/o.torrent" });
    ASSERT_TRUE(orphan->launch());
    ASSERT_TRUE(loop.runUntil([&] { return TransferList::isClientOn(orphan->processIdentifier(), "/d/o.torrent"); }, 10));
    writeFile(TransferStore::path(),
        TransferStore::encode({ { "/d/o.torrent", "o", StoredState::Running, orphan->processIdentifier(), {}, std::nullopt, false } }));
    auto list = std::make_shared<TransferList>();
    list->restore();
    ASSERT_EQ(list->transfers().size(), 1u);
    auto& adopted = *list->transfers()[0];
    EXPECT_TRUE(adopted.isAdopted());
    EXPECT_EQ(adopted.stateText(), Transfer::adoptedText);
    loop.advance(1.5);
    EXPECT_EQ(kit::ChildProcess::runningCount(), 1u) << "not started a second time beside itself";
    EXPECT_EQ(list->summaries()[0].running, true);
    list->stopFront();
    ASSERT_TRUE(loop.runUntil([&] { return !orphan->isRunning(); }, 10));
    loop.advance(1.0);
    EXPECT_FALSE(adopted.hasClient());
    EXPECT_EQ(adopted.stateText(), "Stopped");
}

TEST_F(TransferListTest, ResumeWhileAStoppedClientQuitsStartsTheNextOneOnceItHasGoneAndNoEarlierStopEndsIt)
{
    channelClient();
    auto list = std::make_shared<TransferList>();
    ASSERT_EQ(list->ask("/d/r.torrent", "r", {}).asked, TransferList::Asked::Started);
    auto& t = *list->transfers()[0];
    ASSERT_TRUE(loop.runUntil([&] { return t.control() && t.control()->isConnected(); }, 10));
    auto first = t.child();
    const auto firstKey = t.control()->key();

    // Resume a moment after Stop, while the client still quits.
    list->stopFront();
    ASSERT_TRUE(t.isQuitting());
    EXPECT_TRUE(list->resumeFront());
    ASSERT_TRUE(loop.runUntil([&] { return !first->isRunning() && starts() == 2; }, 10)) << "taken, and started once the old one went";
    auto second = t.child();
    ASSERT_NE(second, first);
    EXPECT_TRUE(t.isRunning());
    ASSERT_TRUE(loop.runUntil([&] { return t.control() && t.control()->isConnected() && t.control()->key() != firstKey; }, 10));

    // Past the time the stop gave the first client, and the signal's grace after it.
    loop.advance(Transfer::quitGraceSeconds + 1);
    loop.advance(Transfer::stopGraceSeconds + 1);
    EXPECT_FALSE(loop.runUntil([&] { return !second->isRunning(); }, 2)) << "the fallback of the first stop never reaches the second client";
    EXPECT_EQ(t.stateText().find("Ended"), std::string::npos) << t.stateText();
}

TEST_F(TransferListTest, WithFilesSkippedATransferIsCompleteOnceTheChosenAreInAndItsChoicesAndTorrentOutliveARestart)
{
    channelClient();
    // A torrent of four files, which the transfer keeps a copy of.
    const std::string four = "d4:infod5:filesl" + std::string("d6:lengthi1e4:pathl5:a.bineed6:lengthi1e4:pathl5:b.binee")
        + "d6:lengthi1e4:pathl5:c.bineed6:lengthi1e4:pathl5:d.bineee4:name3:Topee";
    const std::string torrent = root / "page.torrent";
    writeFile(torrent, four);
    auto list = std::make_shared<TransferList>();
    ASSERT_EQ(list->ask(torrent, "page", {}).asked, TransferList::Asked::Started);
    auto& t = *list->transfers()[0];
    const auto copy = Transfer::keptCopyPath(torrent);
    EXPECT_EQ(t.runPath(), copy);
    EXPECT_EQ(lastStart(1).substr(lastStart(1).rfind(' ') + 1), copy) << "its client runs from the copy";
    ASSERT_TRUE(loop.runUntil([&] { return t.control() && t.control()->isConnected(); }, 10));
    EXPECT_EQ(list->transfers().size(), 1u) << "its client, naming the copy, is known as itself";

    // As its details set them: a limit, a seeding goal, the fourth file skipped.
    t.ownDownloadLimit = 50 * 1024;
    t.seedHours = 5;
    t.chooseFiles({ 1, 2, 3 });
    ASSERT_TRUE(tickUntil([&] { return t.progress().completeShare() && t.progress().percentText() == "75 %"; })) << t.stateText();
    EXPECT_EQ(t.progress().timeLeftText(), "Complete (3 of 4 files)");
    EXPECT_EQ(t.stateText(), "Seeding (complete)");
    EXPECT_EQ(t.progress().percentText(), "75 %") << "the share it has";
    // Half a minute and more with no new piece, the client answering each second.
    for (int i = 0; i < int(TransferProgress::stall) + 5; ++i) {
        loop.advance(1.0);
        const double asked = loop.now();
        ASSERT_TRUE(loop.runUntil([&] { return t.control()->lastHeard() >= asked; }, 10));
    }
    EXPECT_EQ(t.stateText(), "Seeding (complete)") << "never stalled for the files it skipped";
    // What the views are sent shares the client's list of files: a large torrent's are held once.
    ASSERT_TRUE(t.control()->files());
    EXPECT_EQ(TransferSnapshot::of(t).files.get(), t.control()->files().get());

    // The Browse tab keeps another page.torrent; the person ends the application while it seeds.
    writeFile(torrent, "d4:infod6:lengthi1e4:name5:otheree");
    list->endAll();
    ASSERT_TRUE(loop.runUntil([&] { return !t.hasClient(); }, 10));
    auto stored = TransferStore::decode(readFile(TransferStore::path()));
    ASSERT_TRUE(stored && stored->size() == 1u);
    EXPECT_EQ((*stored)[0].state, StoredState::Complete) << "seeding at the end is complete, not stopped";
    EXPECT_EQ((*stored)[0].chosenFiles, (std::set<int> { 1, 2, 3 }));

    // Its details now show what was last known as such, and keep choices for the next start.
    auto service = TransferService::create(list);
    auto details = std::make_shared<TransferDetailsViewController>(service, list->transfers()[0]->id());
    details->view();
    EXPECT_EQ(details->noteLabel->text().find("Applied at once"), std::string::npos) << details->noteLabel->text();
    EXPECT_EQ(details->rowTexts(TransferDetailsViewController::FilesSection)[0].find("Files, as last known"), 0u);
    EXPECT_EQ(details->rowTexts(TransferDetailsViewController::PeersSection)[1], "None: the transfer has no client");
    EXPECT_EQ(details->summaryLabel->text().find("\u2193"), std::string::npos) << "no rate without a client";

    // The next start: complete with its share, its choices back, and its own torrent still.
    details.reset();
    service.reset();
    list.reset();
    auto again = std::make_shared<TransferList>();
    again->restore();
    ASSERT_EQ(again->transfers().size(), 1u);
    auto& back = *again->transfers()[0];
    EXPECT_EQ(back.stateText(), "Complete");
    EXPECT_EQ(back.progress().timeLeftText(), "Complete (3 of 4 files)");
    EXPECT_EQ(back.ownDownloadLimit, 50 * 1024);
    EXPECT_EQ(back.seedHours, 5);
    ASSERT_TRUE(again->resumeFront());
    EXPECT_EQ(lastStart(2).substr(lastStart(2).find(' ') + 1), "-S 127.0.0.1:" + std::to_string(ControlDevice::storedPort()) + ": -D 50 -n 1-3 -e 5 " + copy);
    EXPECT_EQ(readFile(copy), four) << "the torrent it was started with, whatever became of page.torrent";
    again->endAll();

    // A list of the earlier form still reads, with nothing chosen.
    auto older = TransferStore::decode("quorvane-transfers 2\nstopped\t\t\t\tNo\t/a\ta\t3/8\tYes\n");
    ASSERT_TRUE(older && older->size() == 1u);
    EXPECT_FALSE((*older)[0].chosenFiles);
    EXPECT_EQ((*older)[0].copy, "");
}

} // namespace
