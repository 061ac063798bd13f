#include "tests/support/TempFolder.h"
#include "app/HalvexAppDelegate.h"
#include "files/TorrentFiles.h"
#include "kit/testing/TestEnvironment.h"
#include "kit/ui/Application.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/ui/MoviePlayer.h"
#include "kit/core/RunLoop.h"
#include "kit/core/UserDefaults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using testsupport::TempFolder;
using testsupport::readFile;
using testsupport::writeFile;

namespace fs = std::filesystem;

class RecordingPlatform : public kit::Platform {
public:
    int run(kit::Application&) override { return 0; }
    bool openURL(const std::string& url) override
    {
        urls.push_back(url);
        return true;
    }
    void terminate(kit::Application&) override { }
    std::vector<std::string> urls;
};

class RecordingPlayer : public kit::MoviePlayerBackend {
public:
    void play(kit::MoviePlayerController& p) override { played.push_back(p.contentURL()); }
    void stop(kit::MoviePlayerController& p) override { stopped.push_back(p.contentURL()); }
    std::vector<std::string> played, stopped;
};

class AppearanceCounter : public kit::ViewController {
public:
    void viewDidAppear(bool) override { ++appeared; }
    int appeared = 0;
};

class TorrentFilesTest : public testing::Test {
protected:
    kit::TestEnvironment env;

    void SetUp() override
    {
        kit::DeviceLayout::current().setRoot(root.path());
        kit::DeviceLayout::current().prepare();
        downloads = kit::DeviceLayout::current().downloadsFolder();
        kit::UserDefaults::standard().open(root / "settings");
        kit::Platform::install(platform);
        kit::Platform::current().setMovieBackend(player);
        previousSink = kit::setLogSink([this](const std::string& line) {
            logLines.push_back(line);
            return true;
        });

        delegate->window = std::make_shared<kit::Window>();
        delegate->tabBarController = std::make_shared<kit::TabBarController>();
        delegate->tabBarController->setViewControllers({ std::make_shared<kit::ViewController>(),
            std::make_shared<kit::ViewController>(), tab, transferTab });
        app.setDelegate(delegate);
        delegate->window->makeKeyWindow();
        delegate->window->addSubview(delegate->tabBarController->viewPointer());
    }

    void TearDown() override
    {
        kit::setLogSink(previousSink);
        app.setDelegate(nullptr);
        kit::Platform::current().setMovieBackend(nullptr);
        kit::Platform::install(nullptr);
        kit::DeviceLayout::current().setRoot("");
    }

    // The user brings the files tab into view.
    void showTab()
    {
        delegate->tabBarController->setSelectedIndex(0);
        delegate->tabBarController->setSelectedIndex(2);
    }
    std::vector<std::string> entries() const
    {
        return std::vector<std::string>(tab->fileMutableArray.begin() + 1, tab->fileMutableArray.end());
    }
    std::vector<std::string> sortedEntries() const
    {
        auto e = entries();
        std::sort(e.begin(), e.end());
        return e;
    }
    void tapRow(const std::string& text)
    {
        auto& rows = tab->fileMutableArray;
        auto it = std::find(rows.begin() + 1, rows.end(), text);
        ASSERT_NE(it, rows.end()) << text;
        ASSERT_TRUE(tab->tableView->tapRowAtIndexPath({ 0, int(it - rows.begin()) }));
    }
    void tapParent() { ASSERT_TRUE(tab->tableView->tapRowAtIndexPath({ 0, 0 })); }
    kit::Popup* front() { return app.frontPopup(); }
    void answer(int index)
    {
        ASSERT_NE(front(), nullptr);
        front()->dismissWithClickedButtonIndex(index, true);
    }
    void rename(const std::string& row, const std::string& newName, int button = 1)
    {
        tapRow(row);
        answer(2);
        ASSERT_NE(front(), nullptr);
        ASSERT_NE(front()->textField(), nullptr);
        front()->textField()->setText(newName);
        answer(button);
    }

    TempFolder root;
    std::string downloads;
    kit::Application app;
    std::shared_ptr<RecordingPlatform> platform = std::make_shared<RecordingPlatform>();
    std::shared_ptr<RecordingPlayer> player = std::make_shared<RecordingPlayer>();
    std::shared_ptr<HalvexAppDelegate> delegate = std::make_shared<HalvexAppDelegate>();
    std::shared_ptr<TorrentFiles> tab = std::make_shared<TorrentFiles>();
    std::shared_ptr<AppearanceCounter> transferTab = std::make_shared<AppearanceCounter>();
    std::vector<std::string> logLines;
    kit::LogSink previousSink;
};

TEST_F(TorrentFilesTest, LoadingListsNothingUntilTheTabAppears)
{
    writeFile(downloads + "/a.torrent", "");
    tab->view();
    EXPECT_EQ(tab->fileMutableArray, (std::vector<std::string> { "..." }));
    EXPECT_EQ(tab->currentDir, downloads);
    showTab();
    EXPECT_EQ(tab->fileMutableArray, (std::vector<std::string> { "...", "a.torrent" }));
    EXPECT_TRUE(tab->download);
    // The path as the device names it, without the folder it is laid under.
    EXPECT_EQ(tab->prompt(), "/var/mobile/Library/Downloads");
}

TEST_F(TorrentFilesTest, TorrentModeShowsTorrentFilesAndCellsAreStyled)
{
    for (auto name : { "a.torrent", "x.y.torrent", ".torrent", "movie.avi", "B.TORRENT", "sub/inner.torrent", "notes" })
        writeFile(downloads + "/" + name, "");
    showTab();
    EXPECT_EQ(sortedEntries(), (std::vector<std::string> { ".torrent", "a.torrent", "x.y.torrent" }));
    auto& table = *tab->tableView;
    ASSERT_EQ(table.numberOfRows(), 4);
    EXPECT_EQ(table.rectForRowAtIndexPath({ 0, 0 }).height(), 48);
    EXPECT_EQ(table.rectForRowAtIndexPath({ 0, 3 }).height(), 44);
    auto* cell = table.cellForRowAtIndexPath({ 0, 0 });
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(), "...");
    EXPECT_EQ(cell->reuseIdentifier(), "Cell");
    EXPECT_EQ(cell->font(), (kit::Font { "Helvetica", 14, false }));
    EXPECT_EQ(cell->lineBreakMode(), kit::LineBreakMode::WordWrap);
}

TEST_F(TorrentFilesTest, WalkingListsEveryEntryUpToTheRootAndBack)
{
    writeFile(downloads + "/Movies/clip.avi", "");
    writeFile(downloads + "/Movies/.hidden", "");
    writeFile(downloads + "/README", "");
    showTab();
    EXPECT_EQ(tab->fileMutableArray, (std::vector<std::string> { "..." }));
    tapParent();
    tapParent();
    EXPECT_FALSE(tab->download);
    EXPECT_EQ(tab->currentDir, root / "var/mobile");
    EXPECT_EQ(tab->prompt(), "/var/mobile");
    EXPECT_EQ(sortedEntries(), (std::vector<std::string> { "Documents", "Library" }));
    tapRow("Library");
    tapRow("Downloads");
    EXPECT_EQ(sortedEntries(), (std::vector<std::string> { "Movies", "README" }));
    tapRow("Movies");
    EXPECT_EQ(sortedEntries(), (std::vector<std::string> { ".hidden", "clip.avi" }));
    tapParent();
    // A file without an extension is a file: the sheet, not a folder.
    tapRow("README");
    EXPECT_EQ(tab->currentDir, downloads);
    ASSERT_NE(front(), nullptr);
    EXPECT_EQ(front()->title(), "README");
    answer(4);
    // All the way up to the device's root, shown as "/"; "..." there stays there.
    for (int i = 0; i < 64 && tab->currentDir != root.path(); ++i)
        tapParent();
    EXPECT_EQ(tab->currentDir, root.path());
    EXPECT_EQ(tab->prompt(), "/");
    auto atRoot = tab->fileMutableArray;
    tapParent();
    EXPECT_EQ(tab->currentDir, root.path());
    EXPECT_EQ(tab->prompt(), "/");
    EXPECT_EQ(tab->fileMutableArray, atRoot);
    // Entering from the root joins with one slash.
    tapRow("var");
    EXPECT_EQ(tab->currentDir, root / "var");
    EXPECT_EQ(tab->prompt(), "/var");
}

TEST_F(TorrentFilesTest, FoldersAndFilesAreToldApartByWhatTheyAre)
{
    writeFile(downloads + "/.demo/inner.torrent", "");
    writeFile(downloads + "/a.b/c", "");
    writeFile(downloads + "/plain", "P");
    fs::create_directories(downloads + "/Empty");
    showTab();
    tapParent();
    tapRow("Downloads");
    tapRow(".demo");
    EXPECT_EQ(front(), nullptr);
    EXPECT_EQ(tab->currentDir, downloads + "/.demo");
    EXPECT_EQ(entries(), (std::vector<std::string> { "inner.torrent" }));
    tapParent();
    tapRow("a.b");
    EXPECT_EQ(tab->currentDir, downloads + "/a.b");
    EXPECT_EQ(tab->prompt(), "/var/mobile/Library/Downloads/a.b");
    tapRow("c"); // a file without an extension
    EXPECT_EQ(tab->currentDir, downloads + "/a.b");
    ASSERT_NE(front(), nullptr);
    EXPECT_EQ(front()->title(), "c");
    EXPECT_EQ(tab->fullPath2, downloads + "/a.b/c");
    answer(4);
    tapParent();
    tapRow("Empty");
    EXPECT_EQ(tab->fileMutableArray, (std::vector<std::string> { "..." }));
}

TEST_F(TorrentFilesTest, WithoutADeviceRootTheWalkEndsAtTheSystemRoot)
{
    kit::DeviceLayout::current().setRoot("");
    tab->view();
    tab->currentDir = "/";
    tab->updateArrayWithPath(tab->currentDir);
    EXPECT_EQ(tab->prompt(), "/");
    tapParent();
    EXPECT_EQ(tab->currentDir, "/");
    tapRow("tmp");
    EXPECT_EQ(tab->currentDir, "/tmp"); // not "//tmp"
    EXPECT_EQ(tab->prompt(), "/tmp");
}

TEST_F(TorrentFilesTest, ANameWithALineBreakShowsWholeWithAMark)
{
    writeFile(downloads + "/two\nlines.torrent", "");
    showTab();
    EXPECT_EQ(entries(), (std::vector<std::string> { "two\nlines.torrent" }));
    auto* cell = tab->tableView->cellForRowAtIndexPath({ 0, 1 });
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(), "two\u21B5lines.torrent");
    tapRow("two\nlines.torrent");
    ASSERT_NE(front(), nullptr);
    EXPECT_EQ(front()->title(), "two\u21B5lines.torrent");
    EXPECT_EQ(tab->fullPath2, downloads + "/two\nlines.torrent");
    answer(4);
}

TEST_F(TorrentFilesTest, TheFolderSurvivesLeavingTheTabAndListsInTorrentMode)
{
    writeFile(downloads + "/Sub/a.torrent", "");
    writeFile(downloads + "/Sub/b.avi", "");
    showTab();
    tapParent();
    tapRow("Downloads");
    tapRow("Sub");
    EXPECT_EQ(sortedEntries(), (std::vector<std::string> { "a.torrent", "b.avi" }));
    showTab();
    EXPECT_EQ(tab->currentDir, downloads + "/Sub");
    EXPECT_TRUE(tab->download);
    EXPECT_EQ(entries(), (std::vector<std::string> { "a.torrent" }));
}

TEST_F(TorrentFilesTest, AVanishedFolderListsAsTheParentRowAlone)
{
    writeFile(downloads + "/Gone/a.avi", "");
    showTab();
    tapParent();
    tapRow("Downloads");
    tapRow("Gone");
    fs::remove_all(downloads + "/Gone");
    tab->updateArrayWithAllFiles();
    EXPECT_EQ(tab->fileMutableArray, (std::vector<std::string> { "..." }));
    showTab();
    EXPECT_EQ(tab->fileMutableArray, (std::vector<std::string> { "..." }));
    tapParent();
    EXPECT_EQ(tab->currentDir, downloads);
}

TEST_F(TorrentFilesTest, TappingAFileLogsAndOffersTheActionsOfTheMode)
{
    writeFile(downloads + "/a.torrent", "");
    showTab();
    tapRow("a.torrent");
    EXPECT_EQ(logLines, (std::vector<std::string> { "The File: a.torrent", "1 tapped", "Path: " + downloads + "/a.torrent" }));
    ASSERT_NE(front(), nullptr);
    EXPECT_EQ(front()->className(), "UIActionSheet");
    EXPECT_EQ(front()->title(), "a.torrent");
    EXPECT_EQ(front()->buttonTitles(), (std::vector<std::string> { "Download", "eMail File", "Rename", "Delete", "Cancel" }));
    EXPECT_EQ(front()->cancelButtonIndex(), 4);
    answer(4);
    EXPECT_EQ(front(), nullptr);
    // Reached by walking, the same file still offers Download (Play would
    // only fail on it); another file offers Play.
    writeFile(downloads + "/a.mp4", "");
    tapParent();
    tapRow("Downloads");
    tapRow("a.torrent");
    EXPECT_EQ(front()->buttonTitleAtIndex(0), "Download");
    answer(4);
    tapRow("a.mp4");
    EXPECT_EQ(front()->buttonTitleAtIndex(0), "Play");
    answer(4);
}

TEST_F(TorrentFilesTest, CancelChangesNothing)
{
    writeFile(downloads + "/a.torrent", "");
    kit::UserDefaults::standard().setObject("No", "DownloadTorrentBool");
    showTab();
    auto before = tab->fileMutableArray;
    int reloads = tab->tableView->reloadCount();
    tapRow("a.torrent");
    answer(4);
    EXPECT_EQ(kit::UserDefaults::standard().dictionary(), (std::map<std::string, std::string> { { "DownloadTorrentBool", "No" } }));
    EXPECT_EQ(tab->fileMutableArray, before);
    EXPECT_EQ(tab->tableView->reloadCount(), reloads);
    EXPECT_EQ(delegate->tabBarController->selectedIndex(), 2);
    EXPECT_TRUE(platform->urls.empty());
}

TEST_F(TorrentFilesTest, DownloadHandsTheFileToTheTransferTab)
{
    writeFile(downloads + "/My file.torrent", "d8:announce9:http://t/4:infod6:lengthi1e4:name1:aee");
    showTab();
    tapRow("My file.torrent");
    answer(0);
    auto& d = kit::UserDefaults::standard();
    EXPECT_EQ(d.stringForKey("DownloadTorrent"), downloads + "/My file.torrent");
    EXPECT_EQ(d.stringForKey("DownloadTorrentName"), "My file.torrent");
    EXPECT_EQ(d.stringForKey("DownloadTorrentBool"), "Yes");
    EXPECT_EQ(delegate->tabBarController->selectedIndex(), 3);
    EXPECT_EQ(transferTab->appeared, 1);
    EXPECT_FALSE(tab->adlarkBOOL);
}

TEST_F(TorrentFilesTest, MailHandsAnEscapedAddressWordedByTheSheet)
{
    writeFile(downloads + "/a b.torrent", "");
    writeFile(downloads + "/a b.mp4", "");
    showTab();
    tapRow("a b.torrent");
    answer(1);
    tapParent();
    tapRow("Downloads");
    tapRow("a b.torrent");
    answer(1);
    tapRow("a b.mp4");
    answer(1);
    ASSERT_EQ(platform->urls.size(), 3u);
    const std::string torrentWording = "mailto:?subject=Torrent%20File%20from%20Quorvane&body=Here%20is%20the%20torrent%20file,%20sent%20from%20Quorvane&attachment=";
    EXPECT_EQ(platform->urls[0], torrentWording + downloads + "/a%20b.torrent");
    EXPECT_EQ(platform->urls[1], torrentWording + downloads + "/a%20b.torrent") << "a .torrent is mailed as one in either mode";
    EXPECT_EQ(platform->urls[2].rfind("mailto:?subject=File%20from%20Quorvane&body=Here%20is%20the%20file,", 0), 0u);
    EXPECT_TRUE(fs::exists(downloads + "/a b.torrent"));
}

TEST_F(TorrentFilesTest, RenameInTorrentModeStaysInTheListedFolder)
{
    writeFile(downloads + "/Sub/a.torrent", "A");
    showTab();
    tapParent();
    tapRow("Downloads");
    tapRow("Sub");
    showTab(); // torrent mode in Sub
    rename("a.torrent", "x.torrent");
    EXPECT_EQ(readFile(downloads + "/Sub/x.torrent"), "A"); // no second ".torrent"
    EXPECT_TRUE(tab->download);
    EXPECT_EQ(entries(), (std::vector<std::string> { "x.torrent" }));
    rename("x.torrent", "y");
    EXPECT_EQ(entries(), (std::vector<std::string> { "y.torrent" }));
    // The question and its text field as shown.
    tapRow("y.torrent");
    answer(2);
    auto* alert = dynamic_cast<kit::AlertView*>(front());
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), "Enter new Filename");
    EXPECT_EQ(alert->message(), "\n");
    EXPECT_EQ(alert->buttonTitles(), (std::vector<std::string> { "Cancel", "OK" }));
    EXPECT_EQ(alert->transform(), kit::Transform::translation(0, 100));
    ASSERT_NE(alert->textField(), nullptr);
    EXPECT_EQ(alert->textField()->frame(), kit::Rect(20, 50, 245, 25));
    EXPECT_EQ(alert->textField()->backgroundColor(), kit::Color::white());
    // The field starts with the name, its extension left out, all selected.
    EXPECT_EQ(alert->textField()->text(), "y");
    EXPECT_EQ(alert->textField()->selectedText(), "y");
    alert->textField()->setText("never");
    answer(0);
    EXPECT_EQ(entries(), (std::vector<std::string> { "y.torrent" }));
}

TEST_F(TorrentFilesTest, RenameInAllEntriesModeKeepsTheFileInTheFolderListed)
{
    writeFile(downloads + "/Sub/clip.avi", "C");
    writeFile(downloads + "/Sub/other.avi", "O");
    showTab();
    tapParent();
    tapRow("Downloads");
    tapRow("Sub");
    rename("clip.avi", "holiday");
    EXPECT_EQ(readFile(downloads + "/Sub/holiday.avi"), "C");
    EXPECT_FALSE(fs::exists(downloads + "/holiday.avi"));
    EXPECT_FALSE(tab->download);
    EXPECT_EQ(sortedEntries(), (std::vector<std::string> { "holiday.avi", "other.avi" }));
    EXPECT_EQ(readFile(downloads + "/Sub/other.avi"), "O");
}

TEST_F(TorrentFilesTest, RenameRefusesANameThatReachesAnotherFolder)
{
    writeFile(downloads + "/a.torrent", "A");
    fs::create_directories(downloads + "/Sub");
    showTab();
    for (auto name : { "../escaped", "Sub/inside", ".." }) {
        rename("a.torrent", name);
        auto* refusal = dynamic_cast<kit::AlertView*>(front());
        ASSERT_NE(refusal, nullptr) << name;
        EXPECT_EQ(refusal->title(), "Cannot Rename");
        EXPECT_EQ(refusal->message(), std::string(name) == ".." ? "\"..\" names a folder, not a file. The file keeps its name."
                                                                 : "A name cannot contain \"/\". The file keeps its name.");
        EXPECT_EQ(refusal->buttonTitles(), (std::vector<std::string> { "OK" }));
        answer(0);
        EXPECT_EQ(front(), nullptr);
    }
    EXPECT_EQ(readFile(downloads + "/a.torrent"), "A");
    EXPECT_FALSE(fs::exists(root / "var/mobile/Library/escaped.torrent"));
    EXPECT_TRUE(fs::is_empty(downloads + "/Sub"));
    EXPECT_EQ(entries(), (std::vector<std::string> { "a.torrent" }));
}

TEST_F(TorrentFilesTest, ReturnInTheRenameFieldDoesWhatOKDoes)
{
    writeFile(downloads + "/old name.torrent", "A");
    showTab();
    tapRow("old name.torrent");
    answer(2);
    auto* field = front()->textField();
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->selectedText(), "old name");
    field->insertText("fresh"); // typing replaces the selection
    EXPECT_EQ(field->text(), "fresh");
    field->pressReturn();
    EXPECT_EQ(front(), nullptr);
    EXPECT_EQ(readFile(downloads + "/fresh.torrent"), "A");
    EXPECT_EQ(entries(), (std::vector<std::string> { "fresh.torrent" }));
}

TEST_F(TorrentFilesTest, AnEmptyOrBlankNameRenamesNothing)
{
    writeFile(downloads + "/x.torrent", "X");
    showTab();
    rename("x.torrent", "");
    rename("x.torrent", "  \t");
    EXPECT_EQ(readFile(downloads + "/x.torrent"), "X");
    EXPECT_FALSE(fs::exists(downloads + "/.torrent"));
    EXPECT_FALSE(fs::exists(downloads + "/  \t.torrent"));
    EXPECT_EQ(entries(), (std::vector<std::string> { "x.torrent" }));
}

TEST_F(TorrentFilesTest, RenameNeverReplacesAnExistingFile)
{
    writeFile(downloads + "/a.torrent", "A");
    writeFile(downloads + "/b.torrent", "B");
    showTab();
    rename("a.torrent", "b");
    EXPECT_EQ(readFile(downloads + "/a.torrent"), "A");
    EXPECT_EQ(readFile(downloads + "/b.torrent"), "B");
    EXPECT_EQ(sortedEntries(), (std::vector<std::string> { "a.torrent", "b.torrent" }));
    auto* refusal = dynamic_cast<kit::AlertView*>(front());
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(refusal->message(), "A file named \"b.torrent\" already exists in this folder. The file keeps its name.");
}

TEST_F(TorrentFilesTest, DeleteRemovesAtOnce)
{
    writeFile(downloads + "/Season.1/e1.avi", "");
    writeFile(downloads + "/Season.1/keep.avi", "");
    showTab();
    tapParent();
    tapRow("Downloads");
    tapRow("Season.1"); // a folder, dot or not: entered
    EXPECT_EQ(tab->currentDir, downloads + "/Season.1");
    tapRow("e1.avi");
    answer(3);
    EXPECT_EQ(front(), nullptr); // nothing asked
    EXPECT_FALSE(fs::exists(downloads + "/Season.1/e1.avi"));
    EXPECT_EQ(entries(), (std::vector<std::string> { "keep.avi" }));
    EXPECT_FALSE(tab->download);
}

TEST_F(TorrentFilesTest, PlayHoldsThePlayerUntilItFinishes)
{
    writeFile(downloads + "/my clip.avi", "");
    showTab();
    tapParent();
    tapRow("Downloads");
    tapRow("my clip.avi");
    auto observers = kit::NotificationCenter::defaultCenter().observationCount();
    answer(0);
    ASSERT_EQ(player->played.size(), 1u);
    EXPECT_EQ(player->played[0], "file://" + downloads + "/my%20clip.avi");
    auto held = tab->moviePlayer();
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->scalingMode(), kit::MovieScalingMode::AspectFill);
    EXPECT_EQ(held->contentPath(), downloads + "/my clip.avi");
    std::weak_ptr<kit::MoviePlayerController> weak = held;
    held.reset();
    weak.lock()->playbackFinished(kit::MovieFinishReason::PlaybackError);
    EXPECT_NE(tab->moviePlayer(), nullptr); // the notification comes from the loop
    kit::RunLoop::main().advance(0);
    EXPECT_EQ(tab->moviePlayer(), nullptr);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(kit::NotificationCenter::defaultCenter().observationCount(), observers);
}

TEST_F(TorrentFilesTest, WithoutAPlayerPlaybackEndsAtOnce)
{
    kit::Platform::current().setMovieBackend(nullptr);
    writeFile(downloads + "/clip.avi", "");
    showTab();
    tapParent();
    tapRow("Downloads");
    tapRow("clip.avi");
    answer(0);
    kit::RunLoop::main().advance(0);
    EXPECT_EQ(tab->moviePlayer(), nullptr);
}

// A .torrent of one file, as the transfer client is given it.
std::string singleFileTorrent(const std::string& name)
{
    return "d8:announce27:http://127.0.0.1:1/announce4:infod6:lengthi10e4:name" + std::to_string(name.size()) + ":" + name + "ee";
}

TEST_F(TorrentFilesTest, EntriesARunningTransferWritesAreMarkedAndTheMarksFollowIt)
{
    writeFile(downloads + "/s.torrent", singleFileTorrent("sample.bin"));
    writeFile(downloads + "/other.torrent", singleFileTorrent("other.bin"));
    writeFile(downloads + "/sample.bin", "partial");
    writeFile(downloads + "/unrelated.bin", "");
    std::vector<files::Arrival> running { { downloads + "/s.torrent", 0.25 } };
    tab->setArrivalSource([&] { return running; });
    showTab();
    auto rowText = [&](const std::string& entry) {
        auto& rows = tab->fileMutableArray;
        auto it = std::find(rows.begin(), rows.end(), entry);
        return it == rows.end() ? std::string("(none)") : tab->tableView->cellForRowAtIndexPath({ 0, int(it - rows.begin()) })->text();
    };
    EXPECT_EQ(rowText("s.torrent"), "s.torrent  \u2014  transferring 25 %");
    EXPECT_EQ(rowText("other.torrent"), "other.torrent");
    tab->updateArrayWithAllFiles();
    EXPECT_EQ(rowText("sample.bin"), "sample.bin  \u2014  arriving 25 %");
    EXPECT_EQ(rowText("unrelated.bin"), "unrelated.bin");

    // The tab's one-second refresh follows the percentage, without a new listing.
    running[0].fraction = 0.5;
    env.advance(TorrentFiles::arrivalRefreshInterval);
    EXPECT_EQ(rowText("sample.bin"), "sample.bin  \u2014  arriving 50 %");
    // The transfer ends: the marks go.
    running.clear();
    env.advance(TorrentFiles::arrivalRefreshInterval);
    EXPECT_EQ(rowText("sample.bin"), "sample.bin");
    EXPECT_EQ(rowText("s.torrent"), "s.torrent");
    // Out of view, the tab does not refresh.
    delegate->tabBarController->setSelectedIndex(0);
    running = { { downloads + "/s.torrent", 0.75 } };
    env.advance(3 * TorrentFiles::arrivalRefreshInterval);
    EXPECT_EQ(rowText("sample.bin"), "sample.bin");
}

TEST_F(TorrentFilesTest, AMarkThatMovesLeavesTheListWhereItIsAndGliding)
{
    for (int i = 0; i < 40; ++i)
        writeFile(downloads + "/file" + std::to_string(100 + i) + ".bin", "");
    writeFile(downloads + "/s.torrent", singleFileTorrent("file139.bin"));
    std::vector<files::Arrival> running { { downloads + "/s.torrent", 0.1 } };
    tab->setArrivalSource([&] { return running; });
    showTab();
    tab->updateArrayWithAllFiles();
    auto& table = *tab->tableView;
    table.setContentOffset(table.maximumContentOffset() / 2);
    table.glide(-400);
    running[0].fraction = 0.9;
    env.advance(TorrentFiles::arrivalRefreshInterval);
    EXPECT_TRUE(table.isGliding()) << "the mark's refresh does not stop a glide";
    EXPECT_GT(table.contentOffset(), 0);
    // A row out of view takes the mark in force when it comes into view.
    auto& rows = tab->fileMutableArray;
    const int row = int(std::find(rows.begin(), rows.end(), "file139.bin") - rows.begin());
    table.scrollToRowAtIndexPath({ 0, row });
    auto* cell = table.cellForRowAtIndexPath({ 0, row });
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(), "file139.bin  \u2014  arriving 90 %");
}

TEST_F(TorrentFilesTest, RenameAndDeleteOfWhatATransferUsesAreRefusedAndChangeNothing)
{
    writeFile(downloads + "/s.torrent", singleFileTorrent("sample.bin"));
    writeFile(downloads + "/sample.bin", "partial");
    writeFile(downloads + "/free.bin", "free");
    std::vector<files::Arrival> running { { downloads + "/s.torrent", 0.4 } };
    tab->setArrivalSource([&] { return running; });
    showTab();

    // The .torrent itself, in torrent mode.
    tapRow("s.torrent");
    answer(3);
    ASSERT_NE(front(), nullptr);
    EXPECT_EQ(front()->title(), "Cannot Delete");
    EXPECT_EQ(front()->message(), "\"s.torrent\" is the .torrent file of a running transfer (40 %). Stop the transfer in the Transfer tab first. Nothing was changed.");
    answer(0);
    EXPECT_TRUE(fs::exists(downloads + "/s.torrent"));
    tapRow("s.torrent");
    answer(2);
    ASSERT_NE(front(), nullptr);
    EXPECT_EQ(front()->title(), "Cannot Rename");
    EXPECT_EQ(front()->textField(), nullptr); // no name is asked for
    answer(0);

    // The arriving file.
    tab->updateArrayWithAllFiles();
    tapRow("sample.bin");
    answer(3);
    ASSERT_NE(front(), nullptr);
    EXPECT_EQ(front()->message(), "\"sample.bin\" is being written by a running transfer (40 %). Stop the transfer in the Transfer tab first. Nothing was changed.");
    answer(0);
    tapRow("sample.bin");
    answer(2);
    ASSERT_NE(front(), nullptr);
    EXPECT_EQ(front()->title(), "Cannot Rename");
    answer(0);
    EXPECT_EQ(readFile(downloads + "/sample.bin"), "partial");

    // Another file may not be moved onto it, nor renamed once a transfer
    // has started on it while the name was typed.
    tapRow("free.bin");
    answer(2);
    ASSERT_NE(front(), nullptr);
    front()->textField()->setText("sample");
    answer(1);
    ASSERT_NE(front(), nullptr);
    EXPECT_EQ(front()->title(), "Cannot Rename");
    answer(0);
    EXPECT_EQ(readFile(downloads + "/sample.bin"), "partial");
    EXPECT_EQ(readFile(downloads + "/free.bin"), "free");

    // Once the transfer has ended, both go through as before.
    running.clear();
    tapRow("sample.bin");
    answer(3);
    EXPECT_EQ(front(), nullptr);
    EXPECT_FALSE(fs::exists(downloads + "/sample.bin"));
}

} // namespace
