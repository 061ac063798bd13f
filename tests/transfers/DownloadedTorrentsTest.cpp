// The transfer tab against a stand-in transfer client: a small script at the
// device's client path that prints status lines the way the real one does on
// a pipe (a line feed, then the line padded with blanks), waits for gate files
// the test creates, and obeys signals.
#include "tests/support/LogCapture.h"
#include "tests/support/TempFolder.h"
#include "app/Quorvane.h"
#include "kit/testing/TestEnvironment.h"
#include "kit/core/ChildProcess.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/core/RunLoop.h"
#include "kit/core/UserDefaults.h"
#include "kit/ui/Window.h"
#include "transfers/ControlDevice.h"
#include "transfers/DownloadedTorrents.h"
#include "transfers/TipsViewController.h"

#include <arpa/inet.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::writeFile;

// Records the desktop notifications the tab asks for.
class NotifyingPlatform : public kit::Platform {
public:
    int run(kit::Application&) override { return 0; }
    bool openURL(const std::string&) override { return false; }
    void terminate(kit::Application&) override { }
    bool showNotification(const std::string& title, const std::string& body,
        const std::vector<kit::NotificationAction>& buttons = {}) override
    {
        notifications.push_back(title + ": " + body);
        actions.push_back(buttons);
        return true;
    }
    std::vector<std::string> notifications;
    std::vector<std::vector<kit::NotificationAction>> actions;
};

class DownloadedTorrentsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kit::Platform::install(platform);
        layout.setRoot(root.path());
        layout.prepare();
        kit::UserDefaults::standard().open(layout.settingsFile());
        app = std::make_unique<Quorvane>();
        window = std::make_shared<kit::Window>();
        window->makeKeyWindow();
        tab = std::make_shared<DownloadedTorrents>();
        window->addSubview(tab->viewPointer());
    }

    void TearDown() override
    {
        kit::ChildProcess::terminateAll();
        loop.runUntil([] { return kit::ChildProcess::runningCount() == 0; }, 10);
        tab.reset();
        window.reset();
        app.reset();
        layout.setRoot("");
        kit::Platform::install(nullptr);
    }

    // The stand-in client. `body` runs after it has recorded its arguments.
    void standIn(const std::string& body)
    {
        writeFile(layout.ctorrentPath(),
            "#!/bin/bash\n"
            "cd \"$(pwd)\"\n"
            "{ echo \"$#\"; printf '%s\\n' \"$@\"; pwd; } > \"" + root / "args" + "\"\n"
            "gate() { while [ ! -e \"" + root.path() + "/$1\" ]; do sleep 0.01; done; }\n"
            // One write per status line, as the real client does; the shell's
            // own printf may split its output at line feeds.
            "status() { printf '\\n%s     ' \"$1\" > \"" + root / "line" + "\"; cat \"" + root / "line" + "\"; }\n"
            "emit() { printf \"$1\" > \"" + root / "line" + "\"; cat \"" + root / "line" + "\"; }\n"
            + body,
            true);
    }

    void open(int gate) { writeFile(root / ("g" + std::to_string(gate)), ""); }

    void handOver(const std::string& path, const std::string& name)
    {
        auto& d = kit::UserDefaults::standard();
        d.setObject(path, "DownloadTorrent");
        d.setObject(name, "DownloadTorrentName");
        d.setObject("Yes", "DownloadTorrentBool");
    }

    void startThroughTheQuestion(const std::string& path = "/downloads/My File [1].torrent")
    {
        handOver(path, "My File [1].torrent");
        tab->viewDidAppear(false);
        ASSERT_NE(app->frontPopup(), nullptr);
        app->frontPopup()->dismissWithClickedButtonIndex(1, true);
    }

    bool waitFor(const std::function<bool()>& done) { return loop.runUntil(done, 10); }
    // What every client is started with first: the device's control channel, one argument a line.
    static std::string channelArguments() { return "-S\n127.0.0.1:" + std::to_string(ControlDevice::storedPort()) + ":\n"; }
    bool textShows(const std::string& s) { return tab->txtView->text().find(s) != std::string::npos; }
    bool logShows(const std::string& s) { return log.contains(s); }

    // The front alert's title and message, or "" when none is shown.
    std::string frontAlert()
    {
        auto* popup = app->frontPopup();
        return popup ? popup->title() + ": " + popup->message() : "";
    }

    kit::TestEnvironment env;
    std::shared_ptr<NotifyingPlatform> platform { std::make_shared<NotifyingPlatform>() };
    kit::RunLoop& loop { env.loop() };
    kit::DeviceLayout& layout { kit::DeviceLayout::current() };
    TempFolder root;
    std::unique_ptr<Quorvane> app;
    std::shared_ptr<kit::Window> window;
    std::shared_ptr<DownloadedTorrents> tab;
    testsupport::LogCapture log;
};

TEST_F(DownloadedTorrentsTest, ThePendingRequestIsAskedAboutAndEitherAnswerClearsIt)
{
    handOver("/d/a.torrent", "a.torrent");
    tab->viewDidAppear(false);
    auto* alert = app->frontPopup();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), "Alert");
    EXPECT_EQ(alert->message(), "Do you want to download:\n /d/a.torrent");
    EXPECT_EQ(alert->buttonTitles(), (std::vector<std::string> { "No", "Yes" }));
    EXPECT_EQ(tab->torrentLabel->text(), "a.torrent");

    // Leaving and coming back before answering asks again, on top.
    tab->viewDidAppear(false);
    EXPECT_EQ(app->popups().size(), 2u);
    app->frontPopup()->dismissWithClickedButtonIndex(0, true);
    EXPECT_EQ(kit::UserDefaults::standard().stringForKey("DownloadTorrentBool"), "No");
    app->frontPopup()->dismissWithClickedButtonIndex(0, true);
    EXPECT_EQ(tab->shellProcess(), nullptr);

    tab->viewDidAppear(false);
    EXPECT_EQ(app->frontPopup(), nullptr);
    EXPECT_EQ(tab->torrentLabel->text(), "No torrent file set yet!");

    kit::UserDefaults::standard().setObject("yes", "DownloadTorrentBool");
    tab->viewDidAppear(false);
    EXPECT_EQ(app->frontPopup(), nullptr) << "only the exact value counts";
}

TEST_F(DownloadedTorrentsTest, ATransferShowsEachChunkCutsOnceASecondAndEndsByItself)
{
    standIn("status '| 0/0/1 [1/8/1] 0MB,0MB | 10,5K/s | 2,1K E:0,1'\n"
            "gate g1\n"
            "status '/ 0/1/1 [5/8/5] 1MB,0MB | 20,0K/s | 4,0K E:0,1'\n"
            "gate g2\n"
            "emit '\\nline one [a] b,c|d,e\\nline two [f] g,h|i,j'\n"
            "gate g3\n");
    startThroughTheQuestion();
    EXPECT_EQ(tab->status->text(), "Downloading ...") << "right after the launch, before any output";
    EXPECT_EQ(kit::UserDefaults::standard().stringForKey("DownloadTorrentBool"), "No");
    EXPECT_TRUE(logShows("Testing NSLog: Entry"));
    ASSERT_TRUE(waitFor([&] { return textShows("[1/8/1]"); }));
    EXPECT_EQ(tab->prog->text(), "") << "labels change only on the tick";
    loop.advance(1.0);
    EXPECT_EQ(tab->prog->text(), "\n|");
    EXPECT_EQ(tab->dnLabel->text(), " 10");
    EXPECT_EQ(tab->upLabel->text(), "5");
    EXPECT_EQ(tab->dnLabel->textColor(), kit::Color::rgba(76 / 255.0f, 86 / 255.0f, 108 / 255.0f));

    open(1);
    ASSERT_TRUE(waitFor([&] { return textShows("[5/8/5]"); }));
    EXPECT_FALSE(textShows("[1/8/1]")) << "chunks replace each other";
    loop.advance(1.0);
    EXPECT_EQ(tab->dnLabel->text(), " 20");

    open(2);
    ASSERT_TRUE(waitFor([&] { return textShows("line two"); }));
    loop.advance(3.0);
    EXPECT_EQ(tab->dnLabel->text(), " 20") << "two status lines in one chunk leave the labels";

    open(3);
    ASSERT_TRUE(waitFor([&] { return logShows(" Less than 1"); }));
    ASSERT_TRUE(waitFor([&] { return !tab->shellProcess()->isRunning(); }));
    EXPECT_EQ(tab->status->text(), "Ended") << "the headline does not contradict the state once the child has gone";
    EXPECT_EQ(tab->stateLabel->text(), "Ended");
    EXPECT_EQ(tab->timeLeftLabel->text(), "") << "nothing left to wait for";
    EXPECT_TRUE(textShows("line two"));
    loop.advance(2.0);
    EXPECT_EQ(tab->dnLabel->text(), "") << "no rate without a client";

    // The control channel, then the path unchanged, and the downloads folder as working folder.
    EXPECT_EQ(readFile(root / "args"), "3\n" + channelArguments() + "/downloads/My File [1].torrent\n" + layout.downloadsFolder() + "\n");
    // Coming back while nothing is pending says so, also after a transfer.
    tab->viewDidAppear(false);
    EXPECT_EQ(tab->torrentLabel->text(), "No torrent file set yet!");
}

TEST_F(DownloadedTorrentsTest, PauseResumeAndStopActOnTheChildAndStopWorksWhilePaused)
{
    standIn("trap 'printf \"\\nstopping\"; exit 0' TERM\n"
            "while :; do status \"| tick $(date +%N) [1/2/1] 0MB,0MB | 1,0K/s | 0,0K\"; sleep 0.05; done\n");
    tab->Stoppressed();
    tab->Pausepressed();
    tab->Resumepressed();
    EXPECT_EQ(tab->status->text(), "Idle") << "no child: the buttons do nothing";
    auto enabled = [&] {
        return std::string(tab->stopButton->isEnabled() ? "S" : "-") + (tab->pauseButton->isEnabled() ? "P" : "-")
            + (tab->resumeButton->isEnabled() ? "R" : "-");
    };
    EXPECT_EQ(enabled(), "---") << "greyed: nothing to act on";
    EXPECT_TRUE(tab->progressBar->isHidden()) << "no bar before a transfer";

    startThroughTheQuestion();
    EXPECT_FALSE(tab->progressBar->isHidden());
    ASSERT_TRUE(waitFor([&] { return textShows("tick"); }));
    tab->viewDidAppear(false);
    EXPECT_EQ(tab->torrentLabel->text(), "My File [1].torrent") << "coming back names the running transfer";
    EXPECT_EQ(enabled(), "SP-") << "running: Resume would do nothing";
    tab->Pausepressed();
    EXPECT_EQ(tab->status->text(), "Paused");
    EXPECT_EQ(enabled(), "S-R");
    EXPECT_TRUE(tab->shellProcess()->isRunning());
    tab->Resumepressed();
    EXPECT_EQ(tab->status->text(), "Downloading ...");
    EXPECT_EQ(enabled(), "SP-");
    tab->Pausepressed();
    EXPECT_EQ(tab->stateLabel->text(), "Paused");
    tab->Stoppressed();
    EXPECT_EQ(tab->status->text(), "Stopped");
    // Nothing left to stop or pause; Resume waits for the client's end (which
    // may already have come) to start it again.
    EXPECT_EQ(enabled().substr(0, 2), "--") << "a stopped transfer has nothing left to stop or pause";
    EXPECT_EQ(tab->stateLabel->text(), "Stopped");
    ASSERT_TRUE(waitFor([&] { return logShows(" Less than 1"); })) << "a paused child must be able to end";
    ASSERT_TRUE(waitFor([&] { return !tab->shellProcess()->isRunning(); }));
    EXPECT_EQ(enabled(), "--R") << "a stopped transfer can be started again";
    auto ended = tab->shellProcess();
    tab->Resumepressed();
    EXPECT_EQ(tab->status->text(), "Downloading ...") << "Resume on a stopped transfer starts its client again";
    ASSERT_NE(tab->shellProcess(), ended);
    EXPECT_TRUE(tab->shellProcess()->isRunning());
    EXPECT_EQ(tab->transfers().transfers().size(), 1u) << "the same transfer, not a second one";
    loop.advance(1.0);
    ASSERT_TRUE(waitFor([&] { loop.advance(1.0); return tab->dnLabel->text() == " 1"; }));
    tab->Stoppressed();
    EXPECT_EQ(tab->dnLabel->text(), "") << "a stopped client's last rate goes at once";
}

TEST_F(DownloadedTorrentsTest, AClientThatCannotGoOnIsSaidInWordsWithItsOwnLinesKept)
{
    // What the real client prints in a downloads folder it may not write to.
    standIn("emit 'META INFO\nCreating file \"data.bin\"\nerror, create file \"data.bin\" failed:  Permission denied\n"
            "error, initial meta info failed.\n'\nexit 1\n");
    startThroughTheQuestion();
    ASSERT_TRUE(waitFor([&] { return !tab->shellProcess()->isRunning() && logShows(" Less than 1"); }));
    loop.advance(1.0);
    EXPECT_EQ(tab->stateLabel->text(), "Cannot write to the downloads folder: permission denied");
    EXPECT_EQ(tab->status->text(), "Transfer failed") << "no \"Downloading ...\" above a failure";
    EXPECT_TRUE(textShows("error, create file \"data.bin\" failed:  Permission denied")) << "the client's line stays";
    EXPECT_EQ(tab->timeLeftLabel->text(), "");
    EXPECT_GE(tab->stateLabel->numberOfLines(), 2) << "the words are not cut off";
    EXPECT_EQ(tab->stateLabel->frame().size.width, 300.0f);
    EXPECT_FALSE(tab->stopButton->isEnabled());
    EXPECT_TRUE(tab->progressBar->isHidden()) << "no empty bar for a transfer that never began";

    // A garbage .torrent.
    standIn("emit '\nerror, initial meta info failed.'\nexit 1\n");
    startThroughTheQuestion();
    ASSERT_TRUE(waitFor([&] { return !tab->shellProcess()->isRunning() && tab->stateLabel->text() == "Not a valid torrent file"; }));
    EXPECT_EQ(tab->status->text(), "Transfer failed");

    // An unknown failure still shows its exit status.
    standIn("exit 2\n");
    startThroughTheQuestion();
    ASSERT_TRUE(waitFor([&] { return !tab->shellProcess()->isRunning() && tab->stateLabel->text() == "Ended (exit status 2)"; }));
    EXPECT_EQ(tab->status->text(), "Transfer failed");
}

TEST_F(DownloadedTorrentsTest, UnseenTheOutputIsReadOnTheTickAlone)
{
    standIn("status '| 0/0/1 [1/8/1] 0MB,0MB | 10,5K/s | 2,1K E:0,1'\n"
            "gate g1\n"
            "status '/ 0/1/1 [5/8/5] 1MB,0MB | 20,0K/s | 4,0K E:0,1'\n"
            "gate g2\n"
            "status '- 0/1/1 [6/8/6] 1MB,0MB | 20,0K/s | 4,0K E:0,1'\n"
            "gate g3\n"
            "status '| 0/1/1 [7/8/7] 1MB,0MB | 20,0K/s | 4,0K E:0,1'\n"
            "gate g4\n");
    startThroughTheQuestion();
    ASSERT_TRUE(waitFor([&] { return textShows("[1/8/1]"); }));
    const auto output = Transfer::outputPath("/downloads/My File [1].torrent");
    auto written = [&](const std::string& s) { return readFile(output).find(s) != std::string::npos; };
    // Written, and nothing read between ticks: a watch's event, then the read it asks for.
    auto writtenUnread = [&](int gate, const std::string& pieces) {
        open(gate);
        ASSERT_TRUE(waitFor([&] { return written(pieces); }));
        for (int turn = 0; turn < 3; ++turn)
            loop.runOnce(0);
        EXPECT_FALSE(textShows(pieces)) << pieces << " is not read between ticks while nobody can see it";
    };

    // The window closed: read on the tick.
    platform->setWindowShown(false);
    writtenUnread(1, "[5/8/5]");
    loop.advance(1.0);
    ASSERT_TRUE(waitFor([&] { return textShows("[5/8/5]"); })) << "read on the tick";
    platform->setWindowShown(true);
    open(2);
    ASSERT_TRUE(waitFor([&] { return textShows("[6/8/6]"); })) << "read as it is written once the window is back";

    // Another tab in front of this one: once it is back, what waited is read at once.
    tab->viewDidDisappear(false);
    EXPECT_FALSE(tab->transfers().isSeen());
    writtenUnread(3, "[7/8/7]");
    tab->viewDidAppear(false);
    ASSERT_TRUE(waitFor([&] { return textShows("[7/8/7]"); })) << "read at once when the tab is back";
    open(4);
    ASSERT_TRUE(waitFor([&] { return !tab->shellProcess()->isRunning(); }));
}

TEST_F(DownloadedTorrentsTest, TheQuestionAboutANewTransferIsNotDrawnOverTheLastOne)
{
    standIn("status '| 0/0/1 [3/8/1] 0MB,0MB | 10,5K/s | 2,1K E:0,1'\ngate g1\nemit '\nerror, initial meta info failed.'\nexit 1\n");
    startThroughTheQuestion();
    ASSERT_TRUE(waitFor([&] { return textShows("[3/8/1]"); }));
    loop.advance(1.0);
    open(1);
    ASSERT_TRUE(waitFor([&] { return !tab->shellProcess()->isRunning() && tab->stateLabel->text() == "Not a valid torrent file"; }));
    loop.advance(1.0);
    ASSERT_FALSE(tab->progressBar->isHidden());

    handOver("/downloads/next.torrent", "next.torrent");
    tab->viewDidAppear(false);
    ASSERT_NE(app->frontPopup(), nullptr);
    EXPECT_EQ(tab->txtView->text(), "");
    EXPECT_EQ(tab->stateLabel->text(), "");
    EXPECT_EQ(tab->percentLabel->text(), "");
    EXPECT_EQ(tab->dnLabel->text(), "");
    EXPECT_TRUE(tab->progressBar->isHidden());
    EXPECT_EQ(tab->status->text(), "Idle");
    loop.advance(2.0);
    EXPECT_EQ(tab->dnLabel->text(), "") << "the last output is not cut again";
    app->frontPopup()->dismissWithClickedButtonIndex(0, true);
    // Answered, the ended transfer is there again, its failure and details with it.
    EXPECT_EQ(tab->stateLabel->text(), "Not a valid torrent file");
    EXPECT_TRUE(tab->detailsButton->isEnabled());
    EXPECT_TRUE(tab->resumeButton->isEnabled());

    // A transfer that runs stays in view while the next one is asked about.
    standIn("while :; do status \"| run [1/2/1] 0MB,0MB | 1,0K/s | 0,0K\"; sleep 0.05; done\n");
    startThroughTheQuestion();
    ASSERT_TRUE(waitFor([&] { return textShows("run"); }));
    handOver("/downloads/next.torrent", "next.torrent");
    tab->viewDidAppear(false);
    EXPECT_TRUE(textShows("run"));
    EXPECT_EQ(tab->status->text(), "Downloading ...");
    app->frontPopup()->dismissWithClickedButtonIndex(0, true);
}

TEST_F(DownloadedTorrentsTest, APausedTransferShowsNoRateUntilItsNextOutput)
{
    standIn("status '| 0/0/1 [1/8/1] 0MB,0MB | 10,5K/s | 2,1K E:0,1'\ngate g1\n"
            "status '| 0/0/1 [2/8/1] 0MB,0MB | 30,5K/s | 2,1K E:0,1'\ngate g2\n");
    startThroughTheQuestion();
    ASSERT_TRUE(waitFor([&] { return textShows("[1/8/1]"); }));
    loop.advance(1.0);
    EXPECT_EQ(tab->dnLabel->text(), " 10");
    tab->Pausepressed();
    EXPECT_EQ(tab->dnLabel->text(), "");
    EXPECT_EQ(tab->ratesLabel->text(), "");
    loop.advance(3.0);
    EXPECT_EQ(tab->dnLabel->text(), "") << "the tick does not bring the held client's rate back";
    EXPECT_EQ(tab->upLabel->text(), "");
    tab->Resumepressed();
    loop.advance(1.0);
    EXPECT_EQ(tab->dnLabel->text(), "") << "still the old output";
    open(1);
    ASSERT_TRUE(waitFor([&] { return textShows("[2/8/1]"); }));
    loop.advance(1.0);
    EXPECT_EQ(tab->dnLabel->text(), " 30");
    open(2);
}

TEST_F(DownloadedTorrentsTest, ASecondTorrentRunsBesideTheFirstTheSameOneIsNeverDoubledAndOneTickServesAll)
{
    standIn("while :; do status \"| run $$ [1/2/1] 0MB,0MB | 1,0K/s | 0,0K\"; sleep 0.05; done\n");
    startThroughTheQuestion("/downloads/a.torrent");
    ASSERT_TRUE(waitFor([&] { return textShows("run"); }));
    auto first = tab->shellProcess();
    EXPECT_EQ(tab->transferListView, nullptr) << "one transfer: the tab as it always was";
    startThroughTheQuestion("/downloads/b.torrent");
    auto second = tab->shellProcess();
    ASSERT_NE(first, second);
    EXPECT_TRUE(first->isRunning()) << "a second transfer runs beside the first";
    EXPECT_TRUE(second->isRunning());
    ASSERT_TRUE(waitFor([&] { return textShows("run " + std::to_string(second->processIdentifier())); }));
    ASSERT_NE(tab->transferListView, nullptr);
    EXPECT_EQ(tab->transferListView->subviews().size(), 2u);
    EXPECT_EQ(tab->txtView->frame().y(), 153 + 2 * 36 + 4) << "the list takes its room from the text view";

    // Yes on the first again brings it to the front; no second client on it.
    startThroughTheQuestion("/downloads/a.torrent");
    EXPECT_EQ(tab->shellProcess(), first);
    EXPECT_EQ(kit::ChildProcess::runningCount(), 2u);
    ASSERT_TRUE(waitFor([&] { return textShows("run " + std::to_string(first->processIdentifier())); }))
        << "the text view follows the front one";
    // Tapping the second row brings the second to the front; Stop acts on it alone.
    ASSERT_TRUE(tab->transferListView->tapRowAtIndexPath({ 0, 1 }));
    EXPECT_EQ(tab->shellProcess(), second);
    tab->Stoppressed();
    ASSERT_TRUE(waitFor([&] { return !second->isRunning(); }));
    EXPECT_TRUE(first->isRunning());

    EXPECT_TRUE(tab->transfers().isTicking());
    const double start = loop.now();
    int timers = 0;
    for (auto due = loop.nextDueTime(); due && *due <= start + 1.0001 && timers < 10; due = loop.nextDueTime()) {
        loop.advance(*due - loop.now());
        ++timers;
    }
    EXPECT_EQ(timers, 1) << "one tick a second, whatever the number of transfers";
}

TEST_F(DownloadedTorrentsTest, PastTheLimitATransferQueuesAndStartsWhenOneEnds)
{
    standIn("while :; do status \"| run $$ [1/2/1] 0MB,0MB | 1,0K/s | 0,0K\"; sleep 0.05; done\n");
    kit::UserDefaults::standard().setObject("2", TransferList::limitKey);
    for (auto name : { "a", "b", "c" })
        startThroughTheQuestion(std::string("/downloads/") + name + ".torrent");
    auto& list = tab->transfers().transfers();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(kit::ChildProcess::runningCount(), 2u);
    EXPECT_TRUE(list[2]->isQueued());
    EXPECT_EQ(tab->stateLabel->text(), "Queued");
    EXPECT_EQ(tab->status->text(), "Queued");
    EXPECT_EQ(tab->stopButton->isEnabled(), true) << "a queued one can be taken out of the queue";
    auto summaries = tab->summaries();
    ASSERT_EQ(summaries.size(), 3u);
    EXPECT_EQ(summaries[2].state, StoredState::Queued);
    EXPECT_FALSE(summaries[2].running);
    EXPECT_TRUE(summaries[0].running);

    // The first ends by itself: the queued one starts.
    list[0]->stop();
    ASSERT_TRUE(waitFor([&] { return list[2]->hasClient(); }));
    EXPECT_FALSE(list[2]->isQueued());
}

TEST_F(DownloadedTorrentsTest, ATabDroppedWhileItsTransferRunsHearsNothingMore)
{
    standIn("while :; do status \"| run $$ [1/2/1] 0MB,0MB | 1,0K/s | 0,0K\"; sleep 0.05; done\n");
    startThroughTheQuestion();
    ASSERT_TRUE(waitFor([&] { return textShows("run"); }));
    auto child = tab->shellProcess();
    std::weak_ptr<DownloadedTorrents> weak = tab;
    tab->view().removeFromSuperview();
    tab.reset();
    ASSERT_TRUE(weak.expired());
    // Its tick and its pipe reads end with it: more output and more seconds reach nobody.
    EXPECT_EQ(loop.timerCount(), 0u);
    EXPECT_EQ(kit::NotificationCenter::defaultCenter().observationCount(), 0u);
    child->terminate();
    ASSERT_TRUE(waitFor([&] { return !child->isRunning(); }));
    loop.advance(5);
}

TEST_F(DownloadedTorrentsTest, OutputThatIsNoUtf8OrSplitsACharacterDoesNotEndTheTransfer)
{
    standIn("printf '\\n\\377\\376 broken'\n"
            "gate g1\n"
            "printf '\\n\\342\\202'\n"
            "gate g2\n"
            "printf '\\254 euro [1] 2,3|4,5K/s | 6'\n"
            "gate g3\n");
    startThroughTheQuestion();
    ASSERT_TRUE(waitFor([&] { return textShows("broken"); }));
    EXPECT_TRUE(textShows("\xEF\xBF\xBD\xEF\xBF\xBD broken"));
    open(1);
    ASSERT_TRUE(waitFor([&] { return textShows("\n") && !textShows("broken"); }));
    open(2);
    ASSERT_TRUE(waitFor([&] { return textShows("euro"); }));
    EXPECT_TRUE(textShows("\xE2\x82\xAC euro")) << "the character split between reads is whole";
    EXPECT_TRUE(tab->shellProcess()->isRunning());
    EXPECT_FALSE(logShows(" Less than 1"));
    loop.advance(1.0);
    EXPECT_EQ(tab->dnLabel->text(), "4");
    open(3);
}

TEST_F(DownloadedTorrentsTest, AClientThatEndsWithItsErrorThenALineBreakLeavesTheErrorInView)
{
    // The error and its line break come in two reads, the last one blank.
    standIn("printf 'error, initial meta info failed.'\n"
            "sleep 0.3\n"
            "printf '\\n'\n"
            "exit 1\n");
    startThroughTheQuestion();
    ASSERT_TRUE(waitFor([&] { return logShows(" Less than 1") && kit::ChildProcess::runningCount() == 0; }));
    loop.advance(1.0);
    EXPECT_TRUE(textShows("error, initial meta info failed.")) << tab->txtView->text();
    // The client's own error, said in words, stands for the bare exit status.
    EXPECT_EQ(tab->stateLabel->text(), "Not a valid torrent file");
}

TEST_F(DownloadedTorrentsTest, AFailedStartSaysWhatFailedAndAdvisesAnInstallOnlyForTheClient)
{
    const std::string advice = "must be installed at";
    startThroughTheQuestion();
    EXPECT_TRUE(textShows("could not be started"));
    EXPECT_TRUE(textShows(layout.ctorrentPath() + ": No such file or directory"));
    EXPECT_TRUE(textShows(advice));
    EXPECT_EQ(frontAlert().rfind("Transfer not started: The transfer could not be started.", 0), 0u) << frontAlert();
    app->frontPopup()->dismissWithClickedButtonIndex(0, true);
    EXPECT_NE(tab->status->text(), "Downloading ...");
    EXPECT_FALSE(tab->transfers().isTicking());
    EXPECT_EQ(kit::ChildProcess::runningCount(), 0u);
    EXPECT_EQ(kit::UserDefaults::standard().stringForKey("DownloadTorrentBool"), "No");

    writeFile(layout.ctorrentPath(), "#!/bin/sh\n"); // there, but not executable
    std::filesystem::permissions(layout.ctorrentPath(), std::filesystem::perms::owner_read);
    startThroughTheQuestion();
    EXPECT_TRUE(textShows(layout.ctorrentPath() + ": Permission denied"));
    EXPECT_TRUE(textShows(advice));

    // Installed, but its interpreter is missing: no install advice, and the
    // working folder is not blamed.
    writeFile(layout.ctorrentPath(), "#!/nonexistent/interpreter\n", true);
    startThroughTheQuestion();
    EXPECT_TRUE(textShows(layout.ctorrentPath() + ": No such file or directory (the interpreter or loader it names is missing)"));
    EXPECT_FALSE(textShows(advice));
    EXPECT_FALSE(textShows("working folder"));

    // A working folder that is gone is named as such.
    standIn("exit 0\n");
    std::filesystem::remove_all(layout.transferWorkingFolder());
    startThroughTheQuestion();
    EXPECT_TRUE(textShows("the working folder " + layout.transferWorkingFolder() + ": No such file or directory"));
    EXPECT_FALSE(textShows(advice));
    EXPECT_EQ(kit::ChildProcess::runningCount(), 0u);
}

TEST_F(DownloadedTorrentsTest, ASecondYesWhoseStartFailsLeavesTheRunningTransferGoing)
{
    standIn("while :; do status \"| run $$ [1/2/1] 0MB,0MB | 1,0K/s | 0,0K\"; sleep 0.05; done\n");
    startThroughTheQuestion();
    ASSERT_TRUE(waitFor([&] { return textShows("run"); }));
    auto first = tab->shellProcess();
    std::filesystem::permissions(layout.ctorrentPath(), std::filesystem::perms::owner_read);
    handOver("/downloads/other.torrent", "other.torrent");
    tab->viewDidAppear(false);
    app->frontPopup()->dismissWithClickedButtonIndex(1, true);
    EXPECT_EQ(tab->shellProcess(), first);
    EXPECT_TRUE(first->isRunning());
    EXPECT_EQ(tab->status->text(), "Downloading ...");
    EXPECT_EQ(tab->torrentLabel->text(), "My File [1].torrent") << "the title names what runs";
    EXPECT_NE(frontAlert().find("Permission denied"), std::string::npos) << frontAlert();
    // Its output is still read.
    ASSERT_TRUE(waitFor([&] { return textShows("run " + std::to_string(first->processIdentifier())); }));
}

TEST_F(DownloadedTorrentsTest, LimitsAndStopWhenCompleteReachTheCommandLine)
{
    standIn("exit 0\n");
    auto& d = kit::UserDefaults::standard();
    d.setObject("100", "DownloadLimit");
    d.setObject("20", "UploadLimit");
    d.setObject("Yes", "StopWhenComplete");
    startThroughTheQuestion();
    ASSERT_TRUE(waitFor([&] { return kit::ChildProcess::runningCount() == 0; }));
    EXPECT_EQ(readFile(root / "args"), "9\n" + channelArguments() + "-D\n100\n-U\n20\n-e\n0\n/downloads/My File [1].torrent\n" + layout.downloadsFolder() + "\n");

    // A stored limit that is no number is left out, and the log says so.
    d.setObject("fast", "DownloadLimit");
    d.setObject("", "UploadLimit");
    d.setObject("No", "StopWhenComplete");
    startThroughTheQuestion();
    ASSERT_TRUE(waitFor([&] { return kit::ChildProcess::runningCount() == 0; }));
    EXPECT_EQ(readFile(root / "args"), "3\n" + channelArguments() + "/downloads/My File [1].torrent\n" + layout.downloadsFolder() + "\n");
    EXPECT_TRUE(logShows("DownloadLimit \"fast\" is left out: a limit is a whole number of KB/s, or empty for none"));
}

TEST_F(DownloadedTorrentsTest, RecordedOutputShowsProgressRatesStateAndCompletionOnce)
{
    // The real client's output, chunk by chunk: downloading, then complete and seeding.
    standIn("status '/ 1/0/2 [16/64/64] 1MB,0MB | 264,0K/s | 288,0K E:0,1'\n"
            "gate g1\n"
            "emit '\\n| 1/0/2 [63/64/64] 3MB,0MB | 224,0K/s | 288,0K E:0,1 \\nDownl'\n"
            "gate g2\n"
            "emit 'oad complete.\\nTotal time used: 0 minutes.\\nSeed for others 72 hours\\n'\n"
            "gate g3\n"
            "status '- 0/1/2 [64/64/64] 4MB,1MB | 0,1200K/s | 0,0K E:0,2'\n"
            "gate g4\n"
            "exit 3\n");
    startThroughTheQuestion();
    EXPECT_EQ(tab->stateLabel->text(), "Connecting");
    EXPECT_EQ(tab->timeLeftLabel->text(), "Time left: \u2014");
    ASSERT_TRUE(waitFor([&] { return textShows("[16/64/64]"); }));
    loop.advance(1.0);
    EXPECT_EQ(tab->percentLabel->text(), "25 %");
    EXPECT_FLOAT_EQ(tab->progressBar->progress(), 0.25f);
    EXPECT_EQ(tab->ratesLabel->text(), "\u2193 264 KB/s   \u2191 0 KB/s");
    EXPECT_EQ(tab->stateLabel->text(), "Downloading");
    EXPECT_EQ(tab->dnLabel->text(), " 264") << "the cut's labels stay as they were";

    open(1);
    ASSERT_TRUE(waitFor([&] { return textShows("Downl"); }));
    loop.advance(1.0);
    EXPECT_EQ(tab->percentLabel->text(), "98 %") << "the last whole line of the chunk counts";
    EXPECT_EQ(tab->dnLabel->text(), " 224");
    open(2);
    ASSERT_TRUE(waitFor([&] { return textShows("Seed for others"); }));
    loop.advance(1.0);
    EXPECT_EQ(platform->notifications, std::vector<std::string> { "Download complete: My File [1].torrent" })
        << "the notice split between two reads still counts";
    EXPECT_TRUE(logShows("Download complete: My File [1].torrent"));
    EXPECT_EQ(tab->percentLabel->text(), "98 %") << "a chunk without a line keeps the values";

    open(3);
    ASSERT_TRUE(waitFor([&] { return textShows("[64/64/64]"); }));
    loop.advance(1.0);
    EXPECT_EQ(tab->stateLabel->text(), "Seeding (complete)");
    EXPECT_EQ(tab->status->text(), "Complete, sharing ...") << "no \"Downloading ...\" above a complete download";
    EXPECT_EQ(tab->timeLeftLabel->text(), "Complete");
    EXPECT_EQ(tab->ratesLabel->text(), "\u2193 0 KB/s   \u2191 1.2 MB/s");
    loop.advance(3.0);
    EXPECT_EQ(platform->notifications.size(), 1u) << "once per transfer";

    open(4);
    ASSERT_TRUE(waitFor([&] { return !tab->shellProcess()->isRunning(); }));
    EXPECT_EQ(tab->stateLabel->text(), "Ended (exit status 3)");
    EXPECT_EQ(tab->status->text(), "Complete") << "the download completed, whatever the exit status";
}

// The completion notice offers the arrived file and its folder, as the
// .torrent names them; a .torrent naming nothing usable gets no buttons.
TEST_F(DownloadedTorrentsTest, TheCompletionNoticeOffersToOpenTheFileAndItsFolder)
{
    const auto downloads = layout.downloadsFolder();
    const std::string name = "My Film #1.mkv";
    writeFile(downloads + "/film.torrent",
        "d8:announce27:http://127.0.0.1:1/announce4:infod6:lengthi10e4:name" + std::to_string(name.size()) + ":" + name + "ee");
    writeFile(downloads + "/evil.torrent", "d8:announce27:http://127.0.0.1:1/announce4:infod6:lengthi10e4:name2:..ee");
    standIn("status '/ 1/0/2 [64/64/64] 1MB,0MB | 264,0K/s | 288,0K E:0,1'\n"
            "emit '\\nDownload complete.\\n'\n"
            "gate g1\n");
    startThroughTheQuestion(downloads + "/film.torrent");
    ASSERT_TRUE(waitFor([&] { return textShows("Download complete."); }));
    loop.advance(1.0);
    ASSERT_EQ(platform->actions.size(), 1u);
    EXPECT_EQ(platform->actions[0], (std::vector<kit::NotificationAction> {
        { "Open", "file://" + downloads + "/My%20Film%20%231.mkv" },
        { "Show in folder", "file://" + downloads },
    }));

    open(1);
    ASSERT_TRUE(waitFor([&] { return !tab->shellProcess()->isRunning(); }));
    std::filesystem::remove(root / "g1");
    startThroughTheQuestion(downloads + "/evil.torrent");
    ASSERT_TRUE(waitFor([&] { return textShows("Download complete."); }));
    loop.advance(1.0);
    ASSERT_EQ(platform->actions.size(), 2u);
    EXPECT_TRUE(platform->actions[1].empty());
    EXPECT_EQ(platform->notifications.back(), "Download complete: My File [1].torrent");
}

TEST_F(DownloadedTorrentsTest, TheOptionsScreenComesAndGoesLeavingTheTransferAsItWas)
{
    standIn("status '| 0/0/1 [1/8/1] 0MB,0MB | 10,5K/s | 2,1K E:0,1'\ngate g1\n");
    startThroughTheQuestion();
    ASSERT_TRUE(waitFor([&] { return textShows("[1/8/1]"); }));
    loop.advance(1.0);
    auto before = std::make_tuple(tab->status->text(), tab->dnLabel->text(), tab->upLabel->text(), tab->torrentLabel->text());
    tab->goQueue();
    auto* options = tab->modalViewController();
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(window->frontView(), &options->view());
    dynamic_cast<TipsViewController&>(*options).dismissAction(nullptr);
    EXPECT_EQ(tab->modalViewController(), nullptr);
    EXPECT_EQ(std::make_tuple(tab->status->text(), tab->dnLabel->text(), tab->upLabel->text(), tab->torrentLabel->text()), before);
    EXPECT_TRUE(tab->shellProcess()->isRunning());
    open(1);
}

TEST_F(DownloadedTorrentsTest, TheOptionsScreenStoresValidLimitsAndSaysWhenTheyApply)
{
    auto& d = kit::UserDefaults::standard();
    d.setObject("64", "UploadLimit");
    tab->goQueue();
    auto& options = dynamic_cast<TipsViewController&>(*tab->modalViewController());
    options.view();
    EXPECT_EQ(options.upLimitTextField->text(), "64") << "the stored limit is shown";
    EXPECT_EQ(options.downLimitTextField->text(), "");
    EXPECT_EQ(options.noteLabel->text(), TipsViewController::appliesText);

    options.downLimitTextField->insertText("25");
    EXPECT_EQ(d.stringForKey("DownloadLimit"), "25");
    options.downLimitTextField->insertText("x");
    EXPECT_EQ(d.stringForKey("DownloadLimit"), "25");
    EXPECT_EQ(options.noteLabel->text(), "Download limit not stored: a limit is a whole number of KB/s, or empty for none; it stays 25 KB/s.");
    options.downLimitTextField->setText("0");
    EXPECT_EQ(d.stringForKey("DownloadLimit"), "25");
    EXPECT_NE(options.noteLabel->text().find("1 KB/s or more"), std::string::npos);
    options.downLimitTextField->setText(" 300 ");
    EXPECT_EQ(d.stringForKey("DownloadLimit"), "300");
    EXPECT_EQ(options.noteLabel->text(), TipsViewController::appliesText);
    options.upLimitTextField->setText("");
    EXPECT_EQ(d.stringForKey("UploadLimit"), "") << "empty: no limit";

    EXPECT_EQ(options.stopWhenCompleteButton->title(), "Stop when complete: No");
    options.toggleStopWhenComplete();
    EXPECT_EQ(d.stringForKey("StopWhenComplete"), "Yes");
    EXPECT_EQ(options.stopWhenCompleteButton->title(), "Stop when complete: Yes");
    options.toggleStopWhenComplete();
    EXPECT_EQ(d.stringForKey("StopWhenComplete"), "No");
    options.dismissAction(nullptr);
    EXPECT_EQ(tab->modalViewController(), nullptr);

    // A limit stored from outside that is no number is refused on sight, as a typed one is.
    d.setObject("abc12", "DownloadLimit");
    tab->goQueue();
    auto& again = dynamic_cast<TipsViewController&>(*tab->modalViewController());
    again.view();
    EXPECT_EQ(again.noteLabel->text(), "Download limit not stored: a limit is a whole number of KB/s, or empty for none; it stays none.");
    again.downLimitTextField->setText("abc12");
    EXPECT_EQ(again.noteLabel->text(), "Download limit not stored: a limit is a whole number of KB/s, or empty for none; it stays none.");
    again.upLimitTextField->setText("abc12");
    EXPECT_EQ(again.noteLabel->text(), "Upload limit not stored: a limit is a whole number of KB/s, or empty for none; it stays none.");
    again.dismissAction(nullptr);

    // With the control port held by another program, running clients cannot be told.
    const int held = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(held, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(held, 1), 0);
    socklen_t length = sizeof addr;
    ::getsockname(held, reinterpret_cast<sockaddr*>(&addr), &length);
    ControlDevice::storePort(ntohs(addr.sin_port));
    d.setObject("", "DownloadLimit");
    standIn("sleep 30\n");
    startThroughTheQuestion();
    ASSERT_FALSE(tab->transfers().channelProblem().empty());
    tab->goQueue();
    auto& later = dynamic_cast<TipsViewController&>(*tab->modalViewController());
    later.view();
    EXPECT_EQ(later.noteLabel->text(), TipsViewController::appliesLaterText);
    later.downLimitTextField->setText("40");
    EXPECT_EQ(later.noteLabel->text(), TipsViewController::appliesLaterText) << "never \"at once\" without the channel";
    ::close(held);
}

TEST_F(DownloadedTorrentsTest, EndingTheApplicationEndsTheTransfer)
{
    standIn("while :; do status '| x [1/2/1] 0MB,0MB | 1,0K/s | 0,0K'; sleep 0.05; done\n");
    startThroughTheQuestion();
    ASSERT_TRUE(waitFor([&] { return textShows("[1/2/1]"); }));
    auto child = tab->shellProcess();
    app->applicationSuspend(app.get());
    EXPECT_TRUE(child->isRunning()) << "leaving the application keeps the transfer";
    app->terminate();
    ASSERT_TRUE(waitFor([&] { return !child->isRunning(); }));
}

} // namespace
