// The whole application in its window: start-up, tabs, alerts, leaving and
// ending.
#include "QtTestSupport.h"

#include "shells/qt/AppWindow.h"
#include "shells/qt/FirstFrame.h"
#include "shells/qt/InputPanel.h"
#include "shells/qt/PopupLayer.h"
#include "shells/qt/QtPlatform.h"
#include "shells/qt/Scene.h"
#include "shells/qt/StatusBar.h"

#include "app/HalvexAppDelegate.h"
#include "app/QuorvaneMain.h"
#include "web/DownloadViewController.h"
#include "tests/support/PageServer.h"
#include "kit/ui/ActionSheet.h"
#include "kit/ui/AlertView.h"
#include "kit/ui/Button.h"
#include "kit/core/ChildProcess.h"
#include "kit/core/DeviceLayout.h"
#include "kit/ui/TableView.h"
#include "kit/ui/TextField.h"
#include "kit/core/UserDefaults.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

using namespace qtshell;

namespace {

struct IndexRecorder : kit::AlertViewDelegate, kit::ActionSheetDelegate {
    std::vector<int> indexes;
    void alertViewClickedButtonAtIndex(kit::AlertView&, int index) override { indexes.push_back(index); }
    void actionSheetClickedButtonAtIndex(kit::ActionSheet&, int index) override { indexes.push_back(index); }
};

class AppWindowTest : public AppInWindowTest {
protected:
    // A downloads folder of forty torrents, more than a screen holds.
    static void fillDownloads()
    {
        const std::string downloads = kit::DeviceLayout::current().downloadsFolder();
        for (int i = 0; i < 40; ++i)
            testsupport::writeFile(downloads + "/file " + std::to_string(i) + ".torrent", "X");
    }
    // The Files tab in front, the first-run notice answered: its list.
    static kit::TableView* showFiles(AppWindow& w)
    {
        answer(w, 0);
        tabs().setSelectedIndex(2);
        QtPlatform::settle();
        return kit::Application::shared().keyWindow()->frontTable();
    }
};

} // namespace

TEST_F(AppWindowTest, StartsWithStatusBarTabsAndTheFirstRunNotice)
{
    runApp([&](QtPlatform& p, AppWindow& w) {
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(w.size(), QSize(320, 480));
        // The delegate turned the activity indicator on at launch.
        EXPECT_TRUE(w.statusBar().networkActivity());
        EXPECT_EQ(w.statusBar().geometry(), QRect(0, 0, 320, 20));
        auto& bar = *tabs().tabBar();
        auto* barPeer = w.scene().peerFor(&bar);
        ASSERT_NE(barPeer, nullptr);
        EXPECT_TRUE(barPeer->isVisible());
        EXPECT_EQ(barPeer->mapTo(&w, QPoint(0, 0)), QPoint(0, 431));
        // First launch: the notice is over the window; Close (index 0) answers it.
        auto* notice = w.popups().shownPopup();
        ASSERT_NE(notice, nullptr);
        EXPECT_EQ(notice->title(), "Quorvane 2.1b\nPlease Read!");
        EXPECT_TRUE(w.popups().isVisible());
        EXPECT_GT(distinctColours(p.renderWindow()), 10);
        answer(w, 0);
        EXPECT_EQ(w.popups().shownPopup(), nullptr);
        EXPECT_FALSE(w.popups().isVisible());
        EXPECT_EQ(kit::UserDefaults::standard().stringForKey("AlertBool"), "Ja");
    });
}

TEST_F(AppWindowTest, TappingTheTabBarSwitchesTabs)
{
    runApp([&](QtPlatform&, AppWindow& w) {
        answer(w, 0);
        auto& bar = *tabs().tabBar();
        auto* barPeer = w.scene().peerFor(&bar);
        auto* welcome = tabs().viewControllers()[0]->viewPointer().get();
        auto* transfer = tabs().viewControllers()[3]->viewPointer().get();
        ASSERT_NE(w.scene().peerFor(welcome), nullptr);
        EXPECT_EQ(w.scene().peerFor(transfer), nullptr);
        QTest::mouseClick(barPeer, Qt::LeftButton, {}, QPoint(290, 25));
        QtPlatform::settle();
        EXPECT_EQ(tabs().selectedIndex(), 3);
        EXPECT_EQ(bar.selectedIndex(), 3);
        ASSERT_NE(w.scene().peerFor(transfer), nullptr);
        EXPECT_TRUE(w.scene().peerFor(transfer)->isVisible());
        EXPECT_EQ(w.scene().peerFor(welcome), nullptr);
        QTest::mouseClick(barPeer, Qt::LeftButton, {}, QPoint(120, 25));
        QtPlatform::settle();
        EXPECT_EQ(tabs().selectedIndex(), 1);
        EXPECT_EQ(w.scene().peerFor(transfer), nullptr);
    });
}

TEST_F(AppWindowTest, AlertButtonsReachThePartAsItsIndexes)
{
    runApp([&](QtPlatform&, AppWindow& w) {
        answer(w, 0);
        auto recorderHeld = std::make_shared<IndexRecorder>();
        auto& recorder = *recorderHeld;
        // Cancel is index 0 and is shown last; the others keep their order.
        auto alert = kit::AlertView::create("Choose", "Which one?", recorderHeld, "Cancel", { "First", "Second" });
        alert->show();
        QtPlatform::settle();
        ASSERT_EQ(w.popups().shownPopup(), alert.get());
        EXPECT_EQ(w.popups().buttonForIndex(0)->text(), "Cancel");
        EXPECT_EQ(w.popups().buttonForIndex(2)->text(), "Second");
        EXPECT_GT(w.popups().buttonForIndex(0)->y(), w.popups().buttonForIndex(2)->y());
        answer(w, 2);
        // Two shown at once: the front one first, then the one below.
        auto below = kit::AlertView::create("Below", "", recorderHeld, "Close", {});
        auto above = kit::AlertView::create("Above", "", recorderHeld, "No", { "Yes" });
        below->show();
        above->show();
        QtPlatform::settle();
        EXPECT_EQ(w.popups().shownPopup(), above.get());
        answer(w, 1);
        EXPECT_EQ(w.popups().shownPopup(), below.get());
        // Escape is the cancel button.
        w.popups().setFocus();
        QTest::keyClick(w.popups().buttonForIndex(0), Qt::Key_Escape);
        QtPlatform::settle();
        EXPECT_EQ(w.popups().shownPopup(), nullptr);
        EXPECT_EQ(recorder.indexes, (std::vector<int> { 2, 1, 0 }));
    });
}

TEST_F(AppWindowTest, ActionSheetsStackTheirButtonsWithCancelLast)
{
    runApp([&](QtPlatform&, AppWindow& w) {
        answer(w, 0);
        auto recorderHeld = std::make_shared<IndexRecorder>();
        auto& recorder = *recorderHeld;
        auto sheet = kit::ActionSheet::create("file.torrent", recorderHeld, "Cancel", "Delete", { "Download", "Rename" });
        sheet->showInView(*kit::Application::shared().keyWindow());
        QtPlatform::settle();
        ASSERT_EQ(w.popups().shownPopup(), sheet.get());
        const int cancel = sheet->cancelButtonIndex();
        ASSERT_GE(cancel, 0);
        for (int i = 0; i + 1 < sheet->numberOfButtons(); ++i)
            EXPECT_LT(w.popups().buttonForIndex(i)->mapTo(&w, QPoint()).y(), w.popups().buttonForIndex(i + 1)->mapTo(&w, QPoint()).y());
        EXPECT_EQ(w.popups().buttonForIndex(cancel)->text(), "Cancel");
        EXPECT_EQ(w.popups().buttonForIndex(sheet->destructiveButtonIndex())->text(), "Delete");
        // Over the bottom of the screen.
        EXPECT_GT(w.popups().buttonForIndex(cancel)->mapTo(&w, QPoint()).y(), 400);
        int rename = -1;
        for (int i = 0; i < sheet->numberOfButtons(); ++i)
            if (sheet->buttonTitleAtIndex(i) == "Rename")
                rename = i;
        answer(w, rename);
        EXPECT_EQ(recorder.indexes, std::vector<int> { rename });
        EXPECT_EQ(w.popups().shownPopup(), nullptr);
    });
}

TEST_F(AppWindowTest, TheAboutButtonShowsTheAboutBox)
{
    runApp([&](QtPlatform&, AppWindow& w) {
        answer(w, 0);
        kit::Button* about = nullptr;
        std::function<void(kit::View&)> find = [&](kit::View& v) {
            if (auto* b = dynamic_cast<kit::Button*>(&v); b && b->title() == "About")
                about = b;
            for (auto& c : v.subviews())
                find(*c);
        };
        find(*kit::Application::shared().keyWindow());
        ASSERT_NE(about, nullptr);
        QTest::mouseClick(w.scene().peerFor(about), Qt::LeftButton, {}, QPoint(20, 10));
        QtPlatform::settle();
        ASSERT_NE(w.popups().shownPopup(), nullptr);
        EXPECT_EQ(w.popups().shownPopup()->title(), "About Quorvane");
        answer(w, 0);
        EXPECT_EQ(w.popups().shownPopup(), nullptr);
    });
}

TEST_F(AppWindowTest, ClosingTheWindowLeavesTheApplicationRunning)
{
    runApp([&](QtPlatform&, AppWindow& w) {
        answer(w, 0);
        tabs().setSelectedIndex(3);
        ASSERT_TRUE(w.statusBar().networkActivity());
        EXPECT_TRUE(w.statusBar().isTurning());
        w.close();
        QtPlatform::settle();
        EXPECT_FALSE(w.isVisible());
        // Nothing wakes to repaint a hidden window.
        EXPECT_FALSE(w.statusBar().isTurning());
        EXPECT_FALSE(kit::Application::shared().isTerminating());
        w.showAgain();
        EXPECT_TRUE(w.isVisible());
        EXPECT_TRUE(w.statusBar().isTurning());
        EXPECT_EQ(tabs().selectedIndex(), 3);
    });
}

// On X11 a wheel step is copied straight to the window, past Qt: only while
// nothing lies over the wheel, or it would turn undimmed over an alert.
TEST_F(AppWindowTest, TheWheelIsCoveredByWhatLiesOverTheStatusBar)
{
    runApp([&](QtPlatform&, AppWindow& w) {
        EXPECT_TRUE(w.statusBar().isWheelCovered()); // the first-run notice, over a dimmed window
        answer(w, 0);
        // The screens below the bar stack under it.
        EXPECT_FALSE(w.statusBar().isWheelCovered());
        w.showStopping();
        EXPECT_TRUE(w.statusBar().isWheelCovered());
    });
}

// The wheel's ten repaints a second draw only what meets the wheel's square;
// whatever the bar repaints in part looks as it does when drawn whole.
TEST(StatusBarTest, APartRepaintedLooksAsTheWholeBarDrawn)
{
    QWidget top;
    top.resize(320, 40);
    StatusBar bar(&top);
    bar.setGeometry(0, 0, 320, 20);
    bar.setNetworkActivity(true);
    top.show();
    const QImage whole = bar.grab().toImage();
    // The wheel's square, the clock's, the middle of the title's words and the battery.
    for (QRect part : { QRect(78, 2, 16, 16), QRect(130, 0, 60, 20), QRect(30, 0, 30, 20), QRect(285, 0, 35, 20) }) {
        QImage partly(whole.size(), whole.format());
        partly.fill(Qt::magenta);
        bar.render(&partly, part.topLeft(), QRegion(part));
        for (int y = part.top(); y <= part.bottom(); ++y)
            for (int x = part.left(); x <= part.right(); ++x)
                ASSERT_EQ(partly.pixel(x, y), whole.pixel(x, y)) << "at " << x << "," << y << " of the part at " << part.x();
    }
    // A repaint of the wheel's square alone leaves the title's words undrawn,
    // the point of painting by parts.
    QImage wheelOnly(whole.size(), whole.format());
    wheelOnly.fill(Qt::magenta);
    bar.render(&wheelOnly, QPoint(78, 2), QRegion(78, 2, 16, 16));
    EXPECT_EQ(wheelOnly.pixel(20, 10), QColor(Qt::magenta).rgb());
}

TEST_F(AppWindowTest, EndingWaitsVisiblyForASlowTransferToStop)
{
    runApp([&](QtPlatform& p, AppWindow& w) {
        answer(w, 0);
        // A client that needs a moment after it is told to end.
        auto child = kit::ChildProcess::create();
        child->setLaunchPath("/bin/sh");
        child->setArguments({ "-c", "trap 'sleep 0.5; exit 0' TERM; while :; do sleep 0.05; done" });
        ASSERT_TRUE(child->launch());
        processUntil([] { return false; }, 200); // the shell sets its trap
        kit::Application::shared().terminate();
        EXPECT_TRUE(kit::Application::shared().isTerminating());
        EXPECT_TRUE(w.isStopping());
        EXPECT_TRUE(processUntil([] { return kit::ChildProcess::runningCount() == 0; }, 20000));
        EXPECT_TRUE(w.isStopping());
    });
}

TEST_F(AppWindowTest, SlowStartsWaitForTheFirstFrame)
{
    int ran = 0;
    afterFirstFrame([&] { ++ran; });
    EXPECT_EQ(ran, 1); // no window waits to paint: at once
    runApp([&](QtPlatform&, AppWindow& w) {
        // The window may have painted while it settled: wait for its next frame.
        setFirstFramePending(true);
        afterFirstFrame([&] { ++ran; });
        EXPECT_EQ(ran, 1);
        w.repaint();
        EXPECT_FALSE(isFirstFramePending());
        EXPECT_TRUE(processUntil([&] { return ran == 2; }));
    });
}

TEST_F(AppWindowTest, RenameTypesIntoTheAlertsOwnField)
{
    const std::string downloads = kit::DeviceLayout::current().downloadsFolder();
    testsupport::writeFile(downloads + "/x.torrent", "X");
    runApp([&](QtPlatform&, AppWindow& w) {
        answer(w, 0);
        tabs().setSelectedIndex(2);
        QtPlatform::settle();
        kit::TableView* table = nullptr;
        std::function<void(kit::View&)> find = [&](kit::View& v) {
            if (auto* t = dynamic_cast<kit::TableView*>(&v); t && !v.isHidden())
                table = t;
            for (auto& c : v.subviews())
                find(*c);
        };
        auto askForName = [&] {
            table = nullptr;
            find(*kit::Application::shared().keyWindow());
            ASSERT_NE(table, nullptr);
            ASSERT_EQ(table->numberOfRowsInSection(0), 2); // ".." and the file
            table->tapRowAtIndexPath({ 0, 1 });
            QtPlatform::settle();
            answer(w, 2); // Rename
        };
        askForName();
        auto* alert = w.popups().shownPopup();
        ASSERT_NE(alert, nullptr);
        ASSERT_EQ(alert->title(), "Enter new Filename");
        ASSERT_NE(alert->textField(), nullptr);
        auto* peer = w.scene().peerFor(alert->textField());
        ASSERT_NE(peer, nullptr);
        auto* edit = peer->findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        // Shown between the title and the buttons, with the keyboard.
        EXPECT_TRUE(edit->isVisible());
        EXPECT_GE(edit->width(), 200);
        const int fieldTop = edit->mapTo(&w, QPoint()).y();
        EXPECT_LT(fieldTop + edit->height(), w.popups().buttonForIndex(1)->mapTo(&w, QPoint()).y());
        // The alert's translation moves it 100 points down from the middle.
        const int boxMiddle = edit->mapTo(&w, QPoint()).y();
        EXPECT_GT(boxMiddle, 240 + 40);
        EXPECT_TRUE(alert->textField()->isFirstResponder());
        EXPECT_TRUE(edit->hasFocus());
        // The current name, without its extension, selected: typing replaces it.
        EXPECT_EQ(edit->text(), "x");
        EXPECT_EQ(edit->selectedText(), "x");
        QTest::keyClicks(edit, "renamed");
        EXPECT_EQ(alert->textField()->text(), "renamed");
        QPointer<QLineEdit> shownEdit = edit;
        answer(w, 1);
        EXPECT_EQ(w.popups().shownPopup(), nullptr);
        EXPECT_TRUE(!shownEdit || !shownEdit->isVisible());
        EXPECT_TRUE(testsupport::fileExists(downloads + "/renamed.torrent"));

        // Blanks only: nothing is renamed, the file stays in the list.
        askForName();
        ASSERT_NE(w.popups().shownPopup(), nullptr);
        edit = w.scene().peerFor(w.popups().shownPopup()->textField())->findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        QTest::keyClicks(edit, "   ");
        answer(w, 1);
        EXPECT_TRUE(testsupport::fileExists(downloads + "/renamed.torrent"));
        EXPECT_FALSE(testsupport::fileExists(downloads + "/   .torrent"));
        EXPECT_EQ(table->numberOfRowsInSection(0), 2);

        // Return answers OK.
        askForName();
        edit = w.scene().peerFor(w.popups().shownPopup()->textField())->findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->selectedText(), "renamed");
        QTest::keyClicks(edit, "third");
        QTest::keyClick(edit, Qt::Key_Return);
        QtPlatform::settle();
        EXPECT_EQ(w.popups().shownPopup(), nullptr);
        EXPECT_TRUE(testsupport::fileExists(downloads + "/third.torrent"));
    });
}

TEST_F(AppWindowTest, AltLeftAndAltRightGoBackAndForwardInTheBrowser)
{
    testsupport::PageServer site;
    const auto port = std::to_string(site.port());
    ::setenv("QUORVANE_CONNECT_TO", ("releases.ubuntu.com:80:127.0.0.1:" + port).c_str(), 1);
    runApp([&](QtPlatform&, AppWindow& w) {
        answer(w, 0);
        tabs().setSelectedIndex(1);
        QtPlatform::settle();
        auto* tab = dynamic_cast<DownloadViewController*>(tabs().viewControllers()[1].get());
        ASSERT_NE(tab, nullptr);
        auto loaded = [&](const std::string& title) {
            return processUntil([&] { return tab->webView->title() == title && !tab->webView->isLoading(); }, 60000);
        };
        ASSERT_TRUE(loaded("Quorvane Test & Torrents")) << tab->webView->title();
        tab->webView->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString("http://releases.ubuntu.com/next.html")));
        ASSERT_TRUE(loaded("Next Page"));
        EXPECT_EQ(tab->urlField->text(), "http://releases.ubuntu.com/next.html");
        QTest::keyClick(&w, Qt::Key_Left, Qt::AltModifier);
        ASSERT_TRUE(loaded("Quorvane Test & Torrents"));
        EXPECT_EQ(tab->urlField->text().rfind("http://releases.ubuntu.com", 0), 0u);
        QTest::keyClick(&w, Qt::Key_Right, Qt::AltModifier);
        ASSERT_TRUE(loaded("Next Page"));
        EXPECT_EQ(tab->urlField->text(), "http://releases.ubuntu.com/next.html");
    });
    ::unsetenv("QUORVANE_CONNECT_TO");
}

TEST_F(AppWindowTest, TheFilesListFollowsKeysAndTheFinger)
{
    fillDownloads();
    runApp([&](QtPlatform&, AppWindow& w) {
        auto* table = showFiles(w);
        ASSERT_NE(table, nullptr);
        ASSERT_EQ(table->numberOfRowsInSection(0), 41);
        QTest::keyClick(&w, Qt::Key_End);
        EXPECT_FLOAT_EQ(table->contentOffset(), table->maximumContentOffset());
        EXPECT_GT(table->contentOffset(), 1000);
        QTest::keyClick(&w, Qt::Key_Home);
        EXPECT_FLOAT_EQ(table->contentOffset(), 0);
        QTest::keyClick(&w, Qt::Key_PageDown);
        EXPECT_GT(table->contentOffset(), 200);
        QTest::keyClick(&w, Qt::Key_PageUp);
        EXPECT_FLOAT_EQ(table->contentOffset(), 0);

        // A slow drag of 200 points moves the list 200 points, though the
        // row first pressed scrolls away under the finger.
        auto* tablePeer = w.scene().peerFor(table);
        ASSERT_NE(tablePeer, nullptr);
        QWidget* pressed = tablePeer->childAt(100, 300);
        ASSERT_NE(pressed, nullptr);
        // After the press, events go where Qt sends them: to the widget that holds the mouse.
        auto send = [&](QEvent::Type type, int y, Qt::MouseButton button, Qt::MouseButtons buttons) {
            QWidget* to = type == QEvent::MouseButtonPress ? pressed : QWidget::mouseGrabber();
            ASSERT_NE(to, nullptr);
            const QPoint global = tablePeer->mapToGlobal(QPoint(100, y));
            QMouseEvent event(type, QPointF(to->mapFromGlobal(global)), QPointF(global), button, buttons, Qt::NoModifier);
            QApplication::sendEvent(to, &event);
        };
        send(QEvent::MouseButtonPress, 300, Qt::LeftButton, Qt::LeftButton);
        for (int y = 296; y >= 100; y -= 4) {
            send(QEvent::MouseMove, y, Qt::NoButton, Qt::LeftButton);
            QTest::qWait(5);
        }
        QTest::qWait(150); // the finger rests before it lifts: no glide
        send(QEvent::MouseButtonRelease, 100, Qt::LeftButton, Qt::NoButton);
        QtPlatform::settle();
        EXPECT_FLOAT_EQ(table->contentOffset(), 200);
        EXPECT_EQ(w.popups().shownPopup(), nullptr); // a drag taps nothing
    });
}

// The Files list under a touch screen's fingers: a tap opens the row's sheet,
// a drag scrolls the list with the finger (and taps nothing), a second finger
// is ignored while the first one's tap still counts.
TEST_F(AppWindowTest, FingersTapScrollAndIgnoreASecondOneInTheFilesList)
{
    fillDownloads();
    runApp([&](QtPlatform&, AppWindow& w) {
        auto* table = showFiles(w);
        ASSERT_NE(table, nullptr);
        ASSERT_EQ(table->numberOfRowsInSection(0), 41);
        auto* screen = touchScreen();
        // The middle of a row, in the window's points.
        auto rowCentre = [&](int row) {
            auto* cell = table->cellForRowAtIndexPath({ 0, row });
            auto* peer = cell ? w.scene().peerFor(cell) : nullptr;
            return peer ? peer->mapTo(&w, peer->rect().center()) : QPoint(-1, -1);
        };
        // The sheet a tap on row 3 opens, asked for without a finger.
        table->tapRowAtIndexPath({ 0, 3 });
        QtPlatform::settle();
        ASSERT_NE(w.popups().shownPopup(), nullptr);
        const std::string sheetOfRow3 = w.popups().shownPopup()->title();
        press(w, "Cancel");
        ASSERT_EQ(w.popups().shownPopup(), nullptr);

        const QPoint row3 = rowCentre(3);
        ASSERT_GT(row3.y(), 0);
        QTest::touchEvent(&w, screen).press(0, row3);
        EXPECT_TRUE(w.scene().isFingerDown()) << "the finger is a touch, not a mouse";
        QTest::touchEvent(&w, screen).release(0, row3);
        QtPlatform::settle();
        ASSERT_NE(w.popups().shownPopup(), nullptr) << "a tap opens the row's sheet";
        EXPECT_EQ(w.popups().shownPopup()->title(), sheetOfRow3);
        press(w, "Cancel");

        // A second finger drags over the list while the first rests on row 3.
        const QPoint row8 = rowCentre(8);
        QTest::touchEvent(&w, screen).press(0, row3);
        QTest::touchEvent(&w, screen).stationary(0).press(1, row8);
        for (int dy = 4; dy <= 160; dy += 4)
            QTest::touchEvent(&w, screen).stationary(0).move(1, row8 - QPoint(0, dy));
        QTest::touchEvent(&w, screen).stationary(0).release(1, row8 - QPoint(0, 160));
        QtPlatform::settle();
        EXPECT_FLOAT_EQ(table->contentOffset(), 0) << "the second finger scrolls nothing";
        EXPECT_EQ(w.popups().shownPopup(), nullptr) << "and taps nothing";
        QTest::touchEvent(&w, screen).release(0, row3);
        QtPlatform::settle();
        ASSERT_NE(w.popups().shownPopup(), nullptr) << "the first finger's tap counts";
        EXPECT_EQ(w.popups().shownPopup()->title(), sheetOfRow3);
        press(w, "Cancel");

        // A drag of 200 points: the list follows one to one, though the row
        // first touched scrolls away under the finger; lifted while moving,
        // it glides on.
        const QPoint start = rowCentre(6);
        QTest::touchEvent(&w, screen).press(0, start);
        for (int dy = 4; dy <= 200; dy += 4)
            QTest::touchEvent(&w, screen).move(0, start - QPoint(0, dy));
        EXPECT_FLOAT_EQ(table->contentOffset(), 200);
        QTest::touchEvent(&w, screen).release(0, start - QPoint(0, 200));
        EXPECT_TRUE(processUntil([&] { return !table->isGliding(); }));
        EXPECT_GE(table->contentOffset(), 200);
        QtPlatform::settle();
        EXPECT_EQ(w.popups().shownPopup(), nullptr) << "a drag taps nothing";
        EXPECT_FALSE(w.scene().isFingerDown());
    });
}

// The on-screen keyboard: the rename field asks for it when it takes the
// keyboard, with no capitals or guesses for a file name, and lets it go
// after Return or the alert's end; the Browse address field asks for the
// keyboard's address keys when a finger lands on it.
TEST_F(AppWindowTest, TextFieldsAskForTheOnScreenKeyboardAndLetItGo)
{
    const std::string downloads = kit::DeviceLayout::current().downloadsFolder();
    testsupport::writeFile(downloads + "/x.torrent", "X");
    runApp([&](QtPlatform&, AppWindow& w) {
        auto* table = showFiles(w);
        ASSERT_NE(table, nullptr);
        auto renameField = [&]() -> QLineEdit* {
            table->tapRowAtIndexPath({ 0, 1 });
            QtPlatform::settle();
            press(w, "Rename");
            auto* alert = w.popups().shownPopup();
            if (!alert || !alert->textField() || !w.scene().peerFor(alert->textField()))
                return nullptr;
            return w.scene().peerFor(alert->textField())->findChild<QLineEdit*>();
        };
        InputPanel::release();
        auto* edit = renameField();
        ASSERT_NE(edit, nullptr);
        EXPECT_TRUE(edit->hasFocus());
        EXPECT_TRUE(InputPanel::isRequested()) << "the field took the keyboard";
        EXPECT_TRUE(edit->inputMethodHints().testFlag(Qt::ImhNoAutoUppercase));
        EXPECT_TRUE(edit->inputMethodHints().testFlag(Qt::ImhNoPredictiveText));
        EXPECT_FALSE(edit->inputMethodHints().testFlag(Qt::ImhUrlCharactersOnly)) << "a file name is no address";
        QTest::keyClick(edit, Qt::Key_Return);
        QtPlatform::settle();
        EXPECT_EQ(w.popups().shownPopup(), nullptr);
        EXPECT_FALSE(InputPanel::isRequested()) << "Return lets it go";

        edit = renameField();
        ASSERT_NE(edit, nullptr);
        EXPECT_TRUE(InputPanel::isRequested());
        press(w, "Cancel");
        EXPECT_EQ(w.popups().shownPopup(), nullptr);
        EXPECT_FALSE(InputPanel::isRequested()) << "the alert's end lets it go";

        tabs().setSelectedIndex(1);
        QtPlatform::settle();
        auto* browse = dynamic_cast<DownloadViewController*>(tabs().viewControllers()[1].get());
        ASSERT_NE(browse, nullptr);
        auto* peer = w.scene().peerFor(browse->urlField);
        ASSERT_NE(peer, nullptr);
        QPointer<QLineEdit> address = peer->findChild<QLineEdit*>();
        ASSERT_NE(address, nullptr);
        EXPECT_TRUE(address->inputMethodHints().testFlag(Qt::ImhUrlCharactersOnly));
        EXPECT_TRUE(address->inputMethodHints().testFlag(Qt::ImhNoAutoUppercase));
        const QPoint on = peer->mapTo(&w, peer->rect().center());
        QTest::touchEvent(&w, touchScreen()).press(0, on);
        QTest::touchEvent(&w, touchScreen()).release(0, on);
        EXPECT_TRUE(processUntil([&] { return browse->urlField->isFirstResponder(); }));
        EXPECT_TRUE(InputPanel::isRequested());
        // Leaving the tab takes the keyboard from the field (its peer goes).
        tabs().setSelectedIndex(2);
        QtPlatform::settle();
        EXPECT_TRUE(!address || !address->hasFocus());
        EXPECT_FALSE(InputPanel::isRequested());
    });
}
