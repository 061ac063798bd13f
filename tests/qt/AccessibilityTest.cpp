// What a screen reader and a keyboard find in the window, and the window at
// other sizes: the accessible tree of every tab (roles, names, values,
// states), alerts as dialogs, Tab / Space / Return / Ctrl+1..4, and a
// resized window showing the model's frames.
#include "QtTestSupport.h"

#include "shells/qt/AppWindow.h"
#include "shells/qt/PopupLayer.h"
#include "shells/qt/QtPlatform.h"
#include "shells/qt/Scene.h"
#include "shells/qt/StatusBar.h"

#include "ads/landing/AdlarkBrowserController.h"
#include "app/HalvexAppDelegate.h"
#include "kit/ui/ActivityIndicatorView.h"
#include "transfers/DownloadedTorrents.h"
#include "transfers/TransferStore.h"
#include "kit/core/DeviceLayout.h"
#include "kit/ui/AlertView.h"
#include "kit/ui/Button.h"
#include "kit/ui/Label.h"
#include "kit/ui/ProgressView.h"
#include "kit/ui/TabBarController.h"
#include "kit/ui/Window.h"

#include <QAccessible>
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

using namespace qtshell;

namespace {

struct Node {
    QAccessible::Role role;
    QString name, value;
    QAccessible::State state;
    QAccessibleInterface* iface;
};

// Every node under `iface`, depth first.
void collect(QAccessibleInterface* iface, std::vector<Node>& out, int depth = 0)
{
    if (!iface || !iface->isValid() || depth > 40)
        return;
    out.push_back({ iface->role(), iface->text(QAccessible::Name), iface->text(QAccessible::Value), iface->state(), iface });
    // A page's own tree is the web engine's, not ours.
    if (iface->role() == QAccessible::Document)
        return;
    for (int i = 0; i < iface->childCount(); ++i)
        collect(iface->child(i), out, depth + 1);
}

class AccessibilityTest : public AppInWindowTest {
protected:
    // Quorvane with the first-run notice closed.
    void runApp(const std::function<void(QtPlatform&, AppWindow&)>& body)
    {
        AppInWindowTest::runApp([&](QtPlatform& p, AppWindow& w) {
            if (w.popups().buttonForIndex(0))
                answer(w, 0);
            else
                QtPlatform::settle();
            body(p, w);
        });
    }
    static std::vector<Node> tree(AppWindow& w)
    {
        std::vector<Node> nodes;
        collect(QAccessible::queryAccessibleInterface(&w), nodes);
        return nodes;
    }
    static const Node* find(const std::vector<Node>& nodes, QAccessible::Role role, const QString& name)
    {
        for (auto& n : nodes)
            if (n.role == role && n.name == name && !n.state.invisible)
                return &n;
        return nullptr;
    }
    // What a person can reach has a name and is no bare panel or filler.
    static void expectEveryObjectNamed(const std::vector<Node>& nodes)
    {
        for (auto& n : nodes) {
            if (n.state.invisible)
                continue;
            EXPECT_FALSE(n.name.trimmed().isEmpty()) << "role " << int(n.role) << ", value " << n.value.toStdString();
            EXPECT_NE(n.role, QAccessible::Client) << n.name.toStdString();
            EXPECT_NE(n.role, QAccessible::Grouping) << n.name.toStdString();
            EXPECT_NE(n.role, QAccessible::Pane) << n.name.toStdString();
        }
    }
    static void tap(AppWindow& w, const std::string& title)
    {
        auto nodes = tree(w);
        auto* node = find(nodes, QAccessible::Button, QString::fromStdString(title));
        ASSERT_NE(node, nullptr) << title;
        node->iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QtPlatform::settle();
    }
};

} // namespace

TEST_F(AccessibilityTest, EveryTabSpeaksWithRolesAndNames)
{
    runApp([&](QtPlatform&, AppWindow& w) {
        const QStringList titles { "Welcome", "Browse", "Files", "Transfer" };
        for (int tab = 0; tab < 4; ++tab) {
            SCOPED_TRACE(titles[tab].toStdString());
            // Ctrl+1..4 chooses the tab.
            QTest::keyClick(&w, Qt::Key(Qt::Key_1 + tab), Qt::ControlModifier);
            QtPlatform::settle();
            ASSERT_EQ(tabs().selectedIndex(), tab);
            auto nodes = tree(w);

            // The tab bar: four page tabs by title, the selected one marked.
            auto* list = find(nodes, QAccessible::PageTabList, "Tabs");
            ASSERT_NE(list, nullptr);
            ASSERT_EQ(list->iface->childCount(), 4);
            for (int i = 0; i < 4; ++i) {
                auto* item = list->iface->child(i);
                EXPECT_EQ(item->role(), QAccessible::PageTab);
                EXPECT_EQ(item->text(QAccessible::Name), titles[i]);
                EXPECT_EQ(bool(item->state().selected), i == tab);
                EXPECT_EQ(list->iface->indexOfChild(item), i);
                EXPECT_TRUE(list->iface->rect().contains(item->rect()));
            }

            // Panels are no objects of their own; everything reachable has a name.
            expectEveryObjectNamed(nodes);
            // The way up is the way down: each object's parent lists it.
            for (auto& n : nodes) {
                if (auto* up = n.iface->parent(); up && up->role() != QAccessible::Application) {
                    EXPECT_GE(up->indexOfChild(n.iface), 0) << n.name.toStdString();
                }
            }

            switch (tab) {
            case 0:
                EXPECT_NE(find(nodes, QAccessible::Button, "About"), nullptr);
                EXPECT_NE(find(nodes, QAccessible::Button, "Exit"), nullptr);
                EXPECT_TRUE(std::any_of(nodes.begin(), nodes.end(), [](auto& n) { return n.role == QAccessible::Document; }));
                break;
            case 1: {
                auto* field = find(nodes, QAccessible::EditableText, "Address");
                ASSERT_NE(field, nullptr);
                EXPECT_TRUE(field->state.editable);
                EXPECT_NE(field->iface->textInterface(), nullptr) << "the line edit itself speaks for the field";
                EXPECT_NE(find(nodes, QAccessible::Button, "Sites"), nullptr);
                break;
            }
            case 2: {
                auto* row = find(nodes, QAccessible::ListItem, "...");
                ASSERT_NE(row, nullptr);
                EXPECT_TRUE(std::any_of(nodes.begin(), nodes.end(), [](auto& n) { return n.role == QAccessible::List; }));
                EXPECT_TRUE(std::any_of(nodes.begin(), nodes.end(),
                    [](auto& n) { return n.role == QAccessible::StaticText && n.name.endsWith("Library/Downloads"); }));
                break;
            }
            case 3: {
                for (auto* title : { "Stop", "Pause", "Resume", "Options" })
                    EXPECT_NE(find(nodes, QAccessible::Button, title), nullptr) << title;
                EXPECT_NE(find(nodes, QAccessible::StaticText, "No torrent file set yet!"), nullptr);
                EXPECT_NE(find(nodes, QAccessible::StaticText, "Idle"), nullptr);
                // The client's output is a named block of text that reads as text.
                auto* output = find(nodes, QAccessible::EditableText, "Client output");
                ASSERT_NE(output, nullptr);
                EXPECT_TRUE(output->state.readOnly);
                ASSERT_NE(output->iface->textInterface(), nullptr);
                EXPECT_EQ(output->iface->childCount(), 0);
                // The bar, once shown, says how far the transfer is.
                kit::ProgressView* bar = nullptr;
                for (auto& v : tabs().viewControllers()[3]->view().subviews())
                    if (auto* p = dynamic_cast<kit::ProgressView*>(v.get()))
                        bar = p;
                ASSERT_NE(bar, nullptr);
                bar->setHidden(false);
                bar->setProgress(0.42f);
                QtPlatform::settle();
                auto after = tree(w);
                auto it = std::find_if(after.begin(), after.end(), [](auto& n) { return n.role == QAccessible::ProgressBar; });
                ASSERT_NE(it, after.end());
                EXPECT_EQ(it->value, "42%");
                auto* value = it->iface->valueInterface();
                ASSERT_NE(value, nullptr);
                EXPECT_NEAR(value->currentValue().toDouble(), 0.42, 1e-6);
                break;
            }
            }
        }
    });
}

TEST_F(AccessibilityTest, EveryTransferIsFoundAndReachedWhenTheyDoNotAllFit)
{
    // Four transfers known from the stored list: at 320 x 480 three rows fit, turned two.
    const std::string downloads = kit::DeviceLayout::current().downloadsFolder();
    std::vector<TransferStore::Record> stored;
    for (auto* name : { "alpha", "beta", "gamma", "delta" }) {
        testsupport::writeFile(downloads + "/" + name + ".torrent", "X");
        stored.push_back({ downloads + "/" + name + ".torrent", std::string(name) + ".torrent", StoredState::Stopped, {}, {}, {}, false });
    }
    std::filesystem::create_directories(std::filesystem::path(TransferStore::path()).parent_path());
    TransferStore::write(stored);
    runApp([&](QtPlatform&, AppWindow& w) {
        tabs().setSelectedIndex(3);
        QtPlatform::settle();
        auto* tab = dynamic_cast<DownloadedTorrents*>(tabs().viewControllers()[3].get());
        ASSERT_NE(tab, nullptr);
        for (auto size : { QSize(320, 480), QSize(720, 360) }) {
            SCOPED_TRACE(size.width());
            w.resize(size);
            QtPlatform::settle();
            auto* list = tab->transferListView;
            ASSERT_NE(list, nullptr);
            list->setContentOffset(0);
            QtPlatform::settle();
            auto inSight = [&](int row) {
                auto r = list->rectForRowAtIndexPath({ 0, row });
                return r.y() >= list->contentOffset() - 0.5f && r.maxY() <= list->contentOffset() + list->frame().height() + 0.5f;
            };
            ASSERT_FALSE(inSight(3)) << "the fourth does not fit: the list must scroll";
            // A screen reader finds every transfer, in sight or not, as a list item.
            auto nodes = tree(w);
            expectEveryObjectNamed(nodes);
            for (auto* name : { "alpha.torrent, ", "beta.torrent, ", "gamma.torrent, ", "delta.torrent, " })
                EXPECT_TRUE(std::any_of(nodes.begin(), nodes.end(), [&](auto& n) { return n.role == QAccessible::ListItem && n.name.startsWith(name); }))
                    << name;
            // The keys scroll it...
            QTest::keyClick(&w, Qt::Key_End);
            QtPlatform::settle();
            EXPECT_TRUE(inSight(3));
            QTest::keyClick(&w, Qt::Key_Home);
            QtPlatform::settle();
            EXPECT_TRUE(inSight(0));
            EXPECT_FALSE(inSight(3));
            // ...so does the wheel over it...
            auto* peer = w.scene().peerFor(list);
            ASSERT_NE(peer, nullptr);
            const QPointF middle(peer->width() / 2.0, peer->height() / 2.0);
            for (int i = 0; i < 3; ++i) {
                QWheelEvent wheel(middle, peer->mapToGlobal(middle), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
                QCoreApplication::sendEvent(peer, &wheel);
            }
            QtPlatform::settle();
            EXPECT_TRUE(inSight(3)) << list->contentOffset();
            // ...and a finger dragging it down again.
            auto& window = *kit::Application::shared().keyWindow();
            const auto top = list->convertToAncestor(nullptr);
            window.touchBegan({ top.x() + 100, top.y() + 5 });
            window.touchMoved({ top.x() + 100, top.y() + 40 });
            window.touchMoved({ top.x() + 100, top.y() + top.height() });
            window.touchEnded({ top.x() + 100, top.y() + top.height() });
            list->stopGliding();
            QtPlatform::settle();
            EXPECT_TRUE(inSight(0));
            // Tab reaching a row out of sight brings it into sight; pressed, it comes to the front.
            auto* cell = list->cellForRowAtIndexPath({ 0, 3 });
            ASSERT_NE(cell, nullptr);
            auto* rowPeer = w.scene().peerFor(cell);
            ASSERT_NE(rowPeer, nullptr);
            w.activateWindow();
            rowPeer->clearFocus();
            rowPeer->setFocus(Qt::TabFocusReason);
            QtPlatform::settle();
            EXPECT_TRUE(inSight(3));
            QAccessible::queryAccessibleInterface(rowPeer)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            QtPlatform::settle();
            EXPECT_EQ(tab->transfers().front()->name(), "delta.torrent");
            EXPECT_TRUE(QAccessible::queryAccessibleInterface(w.scene().peerFor(list->cellForRowAtIndexPath({ 0, 3 })))->state().selected);
            tab->transfers().bringToFront(*tab->transfers().transfers()[0]);
            QtPlatform::settle();
        }
        w.resize(320, 480);
        QtPlatform::settle();
    });
}

TEST_F(AccessibilityTest, AlertsAreDialogsAndTabsAndButtonsCanBePressed)
{
    runApp([&](QtPlatform&, AppWindow& w) {
        // A page tab pressed from a screen reader selects it.
        auto nodes = tree(w);
        auto* list = find(nodes, QAccessible::PageTabList, "Tabs");
        ASSERT_NE(list, nullptr);
        list->iface->child(2)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QtPlatform::settle();
        EXPECT_EQ(tabs().selectedIndex(), 2);

        // Back on Welcome, About pressed shows its alert: a dialog with its title, message and button.
        QTest::keyClick(&w, Qt::Key_1, Qt::ControlModifier);
        QtPlatform::settle();
        nodes = tree(w);
        auto* about = find(nodes, QAccessible::Button, "About");
        ASSERT_NE(about, nullptr);
        about->iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QtPlatform::settle();
        auto* alert = kit::Application::shared().frontPopup();
        ASSERT_NE(alert, nullptr);
        nodes = tree(w);
        auto dialog = std::find_if(nodes.begin(), nodes.end(), [](auto& n) { return n.role == QAccessible::Dialog && !n.state.invisible; });
        ASSERT_NE(dialog, nodes.end());
        EXPECT_EQ(dialog->name.toStdString(), alert->title());
        EXPECT_EQ(dialog->iface->text(QAccessible::Description).toStdString(), alert->message());
        std::vector<Node> inside;
        collect(dialog->iface, inside);
        EXPECT_NE(find(inside, QAccessible::Button, "Close"), nullptr);
        // Escape still cancels.
        QTest::keyClick(&w.popups(), Qt::Key_Escape);
        QtPlatform::settle();
        EXPECT_EQ(kit::Application::shared().frontPopup(), nullptr);
    });
}

TEST_F(AccessibilityTest, TabMovesTheFocusAndSpaceOrReturnPresses)
{
    runApp([&](QtPlatform&, AppWindow& w) {
        QTest::keyClick(&w, Qt::Key_4, Qt::ControlModifier);
        QtPlatform::settle();
        // Tab walks the Transfer tab's buttons; every stop is a control a tap
        // acts on, and a disabled one is passed by (without a transfer, all
        // but Options) until it is enabled.
        w.activateWindow();
        auto walk = [&] {
            QSet<QString> reached;
            for (int i = 0; i < 12; ++i) {
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w, Qt::Key_Tab);
                if (auto* peer = dynamic_cast<ViewPeer*>(QApplication::focusWidget()))
                    if (auto* button = dynamic_cast<kit::Button*>(peer->view()))
                        reached.insert(QString::fromStdString(button->title()));
            }
            return reached;
        };
        auto* transferTab = dynamic_cast<DownloadedTorrents*>(tabs().viewControllers()[3].get());
        ASSERT_NE(transferTab, nullptr);
        ASSERT_FALSE(transferTab->stopButton->isEnabled());
        auto reached = walk();
        EXPECT_TRUE(reached.contains("Options"));
        EXPECT_FALSE(reached.contains("Stop") || reached.contains("Pause") || reached.contains("Resume")) << reached.size();
        transferTab->stopButton->setEnabled(true);
        QtPlatform::settle();
        EXPECT_TRUE(walk().contains("Stop"));
        transferTab->stopButton->setEnabled(false);
        QtPlatform::settle();
        EXPECT_FALSE(walk().contains("Stop"));

        // Return on Options presents the options screen; Space on Done closes it.
        auto& transfer = tabs().viewControllers()[3]->view();
        kit::View* optionsButton = nullptr;
        for (auto& v : transfer.subviews())
            if (auto* b = dynamic_cast<kit::Button*>(v.get()); b && b->title() == "Options")
                optionsButton = b;
        ASSERT_NE(optionsButton, nullptr);
        auto* peer = w.scene().peerFor(optionsButton);
        ASSERT_NE(peer, nullptr);
        peer->setFocus();
        QTest::keyClick(peer, Qt::Key_Return);
        QtPlatform::settle();
        auto* presented = tabs().viewControllers()[3]->modalViewController();
        ASSERT_NE(presented, nullptr);
        kit::View* done = nullptr;
        for (auto& v : presented->view().subviews())
            if (auto* b = dynamic_cast<kit::Button*>(v.get()); b && b->title() == "Done")
                done = b;
        ASSERT_NE(done, nullptr);
        ASSERT_NE(w.scene().peerFor(done), nullptr);
        QTest::keyClick(w.scene().peerFor(done), Qt::Key_Space);
        QtPlatform::settle();
        EXPECT_EQ(tabs().viewControllers()[3]->modalViewController(), nullptr);
    });
}

TEST_F(AccessibilityTest, KeysActOnTheScreenInFrontAndTheTabsStayBehindIt)
{
    runApp([&](QtPlatform&, AppWindow& w) {
        QTest::keyClick(&w, Qt::Key_4, Qt::ControlModifier);
        QtPlatform::settle();
        auto& transfer = *tabs().viewControllers()[3];
        // A screen presented by the tab itself (as Details and Options are), opened from the keyboard.
        kit::View* options = nullptr;
        for (auto& v : transfer.view().subviews())
            if (auto* b = dynamic_cast<kit::Button*>(v.get()); b && b->title() == "Options")
                options = b;
        ASSERT_NE(options, nullptr);
        w.scene().peerFor(options)->setFocus();
        QTest::keyClick(w.scene().peerFor(options), Qt::Key_Return);
        QtPlatform::settle();
        auto* presented = transfer.modalViewController();
        ASSERT_NE(presented, nullptr);
        // Ctrl+1..4 change nothing behind it: after Done the tab is the one it covered.
        for (int tab = 0; tab < 4; ++tab) {
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w, Qt::Key(Qt::Key_1 + tab), Qt::ControlModifier);
            QtPlatform::settle();
            EXPECT_EQ(tabs().selectedIndex(), 3) << "Ctrl+" << tab + 1;
            EXPECT_EQ(transfer.modalViewController(), presented);
        }
        // The keys reach only the screen in front: the button it covers has
        // let the focus go, and Tab walks the new screen.
        auto* front = w.scene().peerFor(&presented->view());
        ASSERT_NE(front, nullptr);
        EXPECT_FALSE(QApplication::focusWidget() && w.scene().peerFor(&transfer.view())->isAncestorOf(QApplication::focusWidget()));
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w, Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_TRUE(front->isAncestorOf(QApplication::focusWidget()));
        kit::View* done = nullptr;
        for (auto& v : presented->view().subviews())
            if (auto* b = dynamic_cast<kit::Button*>(v.get()); b && b->title() == "Done")
                done = b;
        ASSERT_NE(done, nullptr);
        QTest::keyClick(w.scene().peerFor(done), Qt::Key_Space);
        QtPlatform::settle();
        EXPECT_EQ(transfer.modalViewController(), nullptr);
        EXPECT_EQ(tabs().selectedIndex(), 3);
        // With the tabs in front again, the keys choose them; not under an alert.
        QTest::keyClick(&w, Qt::Key_1, Qt::ControlModifier);
        QtPlatform::settle();
        EXPECT_EQ(tabs().selectedIndex(), 0);
        kit::AlertView::create("Question", "Well?", {}, "No", { "Yes" })->show();
        QtPlatform::settle();
        QTest::keyClick(&w, Qt::Key_3, Qt::ControlModifier);
        QtPlatform::settle();
        EXPECT_EQ(tabs().selectedIndex(), 0);
        QTest::keyClick(&w.popups(), Qt::Key_Escape);
        QtPlatform::settle();
    });
}

TEST_F(AccessibilityTest, AResizedWindowShowsTheModelsFrames)
{
    runApp([&](QtPlatform& p, AppWindow& w) {
        for (auto size : { QSize(360, 720), QSize(720, 360), QSize(1280, 800) }) {
            SCOPED_TRACE(size.width());
            w.resize(size);
            QtPlatform::settle();
            EXPECT_EQ(kit::Window::screenBounds(), kit::Rect(0, 0, float(size.width()), float(size.height())));
            EXPECT_EQ(w.statusBar().width(), size.width());
            // Each shown view's peer lies where the model puts it.
            for (int tab = 0; tab < 4; ++tab) {
                QTest::keyClick(&w, Qt::Key(Qt::Key_1 + tab), Qt::ControlModifier);
                QtPlatform::settle();
                std::function<void(kit::View&)> check = [&](kit::View& v) {
                    auto* peer = w.scene().peerFor(&v);
                    if (!peer || v.isHidden() || !v.transform().isIdentity())
                        return;
                    const auto r = v.convertToAncestor(nullptr);
                    const QPoint at = peer->mapTo(&w, QPoint(0, 0));
                    EXPECT_LE(std::abs(at.x() - r.x()), 1) << v.className();
                    EXPECT_LE(std::abs(at.y() - r.y()), 1) << v.className();
                    EXPECT_LE(std::abs(peer->width() - r.width()), 1) << v.className();
                    for (auto& child : v.subviews())
                        check(*child);
                };
                check(tabs().view());
            }
            // The picture: the dark tab bar spans the bottom, corner to corner.
            QImage shot = p.renderWindow();
            ASSERT_EQ(shot.size(), size * shot.devicePixelRatio());
            for (int x : { 2, size.width() / 2, size.width() - 3 })
                EXPECT_LT(qGray(shot.pixel(int(x * shot.devicePixelRatio()), int((size.height() - 3) * shot.devicePixelRatio()))), 80);
        }
        // Smaller than a turned phone it does not go.
        w.resize(200, 200);
        QtPlatform::settle();
        EXPECT_EQ(w.size(), QSize(320, 288));
        EXPECT_EQ(kit::Window::screenBounds(), kit::Rect(0, 0, 320, 288));
        w.resize(320, 480);
        QtPlatform::settle();
        EXPECT_EQ(tabs().tabBar()->convertToAncestor(nullptr), kit::Rect(0, 431, 320, 49));
    });
}

TEST_F(AccessibilityTest, AButtonWithoutATitleIsNamedByTheWordsItShows)
{
    // A row of a list made of labels (the Transfer tab's list of transfers).
    runApp([&](QtPlatform&, AppWindow& w) {
        QTest::keyClick(&w, Qt::Key_4, Qt::ControlModifier);
        QtPlatform::settle();
        auto row = kit::Button::create({ 10, 160, 300, 34 }, "", [] { });
        for (auto [text, y] : { std::pair { "alpha.torrent", 2.0f }, std::pair { "", 10.0f }, std::pair { "Connecting", 19.0f } }) {
            auto label = kit::View::create<kit::Label>(kit::Rect { 6, y, 200, 14 });
            label->setText(text);
            row->addSubview(label);
        }
        tabs().viewControllers()[3]->view().addSubview(row);
        QtPlatform::settle();
        auto nodes = tree(w);
        EXPECT_NE(find(nodes, QAccessible::Button, QStringLiteral("alpha.torrent, Connecting")), nullptr);
        EXPECT_NE(find(nodes, QAccessible::Button, QStringLiteral("Stop")), nullptr) << "a title still names its button";
        row->removeFromSuperview();
    });
}

TEST_F(AccessibilityTest, EveryScreenOverTheTabsNamesWhatItShowsAndHidesWhatItCovers)
{
    // Two transfers known from the stored list (a list of rows) and a file to act on.
    const std::string downloads = kit::DeviceLayout::current().downloadsFolder();
    testsupport::writeFile(downloads + "/alpha.torrent", "X");
    testsupport::writeFile(downloads + "/beta.torrent", "X");
    std::filesystem::create_directories(std::filesystem::path(TransferStore::path()).parent_path());
    TransferStore::write({ { downloads + "/alpha.torrent", "alpha.torrent", StoredState::Stopped, {}, {}, {}, false },
        { downloads + "/beta.torrent", "beta.torrent", StoredState::Stopped, {}, {}, {}, false } });
    runApp([&](QtPlatform&, AppWindow& w) {
        auto row = [&](const std::vector<Node>& nodes, const QString& name) -> const Node* {
            for (auto& n : nodes)
                if (n.role == QAccessible::ListItem && n.name.startsWith(name + ", ") && !n.state.invisible)
                    return &n;
            return nullptr;
        };
        // The row in front is the selected one; a press on the other brings it to the front.
        tabs().setSelectedIndex(3);
        QtPlatform::settle();
        auto nodes = tree(w);
        expectEveryObjectNamed(nodes);
        auto* alpha = row(nodes, "alpha.torrent");
        auto* beta = row(nodes, "beta.torrent");
        ASSERT_TRUE(alpha && beta);
        EXPECT_TRUE(alpha->state.selected);
        EXPECT_FALSE(beta->state.selected);
        // A row's words are in its name; only its "›" is an object of its own inside it.
        ASSERT_EQ(alpha->iface->childCount(), 1);
        EXPECT_EQ(alpha->iface->child(0)->text(QAccessible::Name), "Details of alpha.torrent");
        beta->iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QtPlatform::settle();
        nodes = tree(w);
        alpha = row(nodes, "alpha.torrent");
        beta = row(nodes, "beta.torrent");
        ASSERT_TRUE(alpha && beta);
        EXPECT_FALSE(alpha->state.selected);
        EXPECT_TRUE(beta->state.selected);

        // A screen presented over the tab: named throughout, and the tab behind it out of reach.
        for (auto* opener : { "Details", "Options" }) {
            SCOPED_TRACE(opener);
            tap(w, opener);
            nodes = tree(w);
            expectEveryObjectNamed(nodes);
            EXPECT_EQ(find(nodes, QAccessible::Button, "Stop"), nullptr);
            EXPECT_EQ(find(nodes, QAccessible::PageTabList, "Tabs"), nullptr);
            EXPECT_NE(find(nodes, QAccessible::Button, "Done"), nullptr);
            if (std::string(opener) == "Details")
                EXPECT_NE(find(nodes, QAccessible::List, "Details"), nullptr);
            else
                EXPECT_NE(find(nodes, QAccessible::EditableText, "Transfers at once"), nullptr);
            tap(w, "Done");
            ASSERT_TRUE(processUntil([&] { return find(tree(w), QAccessible::PageTabList, "Tabs") != nullptr; }));
        }

        // The chosen file is selected while its sheet asks what to do; the
        // sheet is a dialog, and the list behind it is out of reach.
        tabs().setSelectedIndex(2);
        QtPlatform::settle();
        nodes = tree(w);
        auto* file = find(nodes, QAccessible::ListItem, "alpha.torrent");
        ASSERT_NE(file, nullptr);
        EXPECT_FALSE(file->state.selected);
        file->iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QtPlatform::settle();
        ASSERT_NE(w.popups().shownPopup(), nullptr);
        nodes = tree(w);
        expectEveryObjectNamed(nodes);
        EXPECT_EQ(find(nodes, QAccessible::ListItem, "alpha.torrent"), nullptr);
        EXPECT_NE(find(nodes, QAccessible::Dialog, "alpha.torrent"), nullptr);
        EXPECT_NE(find(nodes, QAccessible::Button, "Download"), nullptr);
        auto* table = kit::Application::shared().keyWindow()->frontTable();
        ASSERT_NE(table, nullptr);
        ASSERT_TRUE(table->indexPathForSelectedRow());
        EXPECT_TRUE(table->cellForRowAtIndexPath(*table->indexPathForSelectedRow())->accessibilityState().selected);
        QTest::keyClick(&w.popups(), Qt::Key_Escape);
        QtPlatform::settle();

        // An alert with a long message: its title, message and buttons, nothing nameless.
        tabs().setSelectedIndex(0);
        QtPlatform::settle();
        tap(w, "About");
        nodes = tree(w);
        expectEveryObjectNamed(nodes);
        EXPECT_NE(find(nodes, QAccessible::Button, "Close"), nullptr);
        QTest::keyClick(&w.popups(), Qt::Key_Escape);
        QtPlatform::settle();
    });
}

TEST_F(AccessibilityTest, AWheelSaysBusyWhileItTurnsAndNothingOnceItStops)
{
    runApp([&](QtPlatform&, AppWindow& w) {
        auto& screen = tabs().viewControllers()[3]->view();
        auto wheel = kit::View::create<kit::ActivityIndicatorView>(kit::Rect { 150, 200, 20, 20 }, kit::ActivityIndicatorViewStyle::Gray);
        wheel->setHidesWhenStopped(false); // shown all the time: only what it says changes
        screen.addSubview(wheel);
        tabs().setSelectedIndex(3);
        auto busy = [&] {
            QtPlatform::settle();
            std::vector<Node> found;
            for (auto& n : tree(w))
                if (!n.state.invisible && (n.role == QAccessible::Animation || n.state.busy))
                    found.push_back(n);
            return found;
        };
        EXPECT_TRUE(busy().empty());
        wheel->startAnimating();
        auto turning = busy();
        ASSERT_EQ(turning.size(), 1u);
        EXPECT_EQ(turning[0].name, "Busy");
        EXPECT_TRUE(turning[0].state.busy);
        wheel->stopAnimating();
        EXPECT_TRUE(busy().empty());
        wheel->removeFromSuperview();
    });
}

TEST_F(AccessibilityTest, ReturnInAnAlertPressesItsPreferredButton)
{
    struct Answers : kit::AlertViewDelegate {
        std::vector<int> pressed;
        void alertViewClickedButtonAtIndex(kit::AlertView&, int index) override { pressed.push_back(index); }
    };
    runApp([&](QtPlatform&, AppWindow& w) {
        auto answers = std::make_shared<Answers>();
        // The cancel button when there is one (the handheld's marked one), else the last.
        struct Case {
            std::optional<std::string> cancel;
            std::vector<std::string> others;
            int preferred;
        };
        for (auto& c : { Case { "No", { "Yes" }, 0 }, Case { std::nullopt, { "Later", "Now" }, 1 }, Case { "Cancel", { "A", "B" }, 0 } }) {
            SCOPED_TRACE(c.others.front());
            answers->pressed.clear();
            auto alert = kit::AlertView::create("Question", "Well?", answers, c.cancel, c.others);
            alert->show();
            QtPlatform::settle();
            auto* preferred = w.popups().buttonForIndex(c.preferred);
            ASSERT_NE(preferred, nullptr);
            EXPECT_EQ(w.focusWidget(), preferred);
            auto* iface = QAccessible::queryAccessibleInterface(preferred);
            ASSERT_NE(iface, nullptr);
            EXPECT_TRUE(iface->state().defaultButton);
            QTest::keyClick(w.focusWidget(), Qt::Key_Return);
            QtPlatform::settle();
            EXPECT_EQ(answers->pressed, std::vector<int> { c.preferred });
            EXPECT_EQ(kit::Application::shared().frontPopup(), nullptr);
        }
        // Return reaching the box itself (no button has the keys) presses it too.
        auto alert = kit::AlertView::create("Question", "Well?", answers, "No", { "Yes" });
        alert->show();
        QtPlatform::settle();
        answers->pressed.clear();
        w.popups().setFocus();
        QTest::keyClick(&w.popups(), Qt::Key_Return);
        QtPlatform::settle();
        EXPECT_EQ(answers->pressed, std::vector<int> { 0 });
    });
}

// A screen reader reads the whole tree, pages included, and goes up from each
// object as well as down, as it does for every event it hears.
static int readAsAScreenReader(QAccessibleInterface* iface, int depth = 0)
{
    if (!iface || !iface->isValid() || depth > 60)
        return 0;
    (void)iface->text(QAccessible::Name);
    (void)iface->role();
    (void)iface->state();
    (void)iface->rect();
    if (auto* up = iface->parent()) {
        (void)up->role();
        (void)up->text(QAccessible::Name);
    }
    int count = 1;
    for (int i = 0; i < iface->childCount(); ++i)
        count += readAsAScreenReader(iface->child(i), depth + 1);
    return count;
}

TEST_F(AccessibilityTest, AScreenReaderReadingThroughALandingPageAndTheTabsFindsOnlyLiveObjects)
{
    // What used to end in a crash: a landing page read while open, closed,
    // the tabs switched round four times and the tree read again, twice.
    QAccessible::setActive(true);
    runApp([&](QtPlatform&, AppWindow& w) {
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            QTest::keyClick(&w, Qt::Key_3, Qt::ControlModifier);
            QtPlatform::settle();
            auto browser = AdlarkModalController::create<AdlarkBrowserController>();
            browser->presentBrowserFromView(tabs().selectedViewController()->viewPointer(), *kit::URL::withString("about:blank"));
            browser->webView()->loadHTMLString("<title>Landing</title><h1>Thanks for looking</h1><a href='#a'>A link</a>",
                kit::URL::withString("http://ads.example.test/"));
            ASSERT_TRUE(processUntil([&] { return browser->webView()->title() == "Landing" && !browser->webView()->isLoading(); }, 60000));
            // The page fades in over the screen, which is then out of reach.
            EXPECT_TRUE(processUntil([&] { return readAsAScreenReader(QAccessible::queryAccessibleInterface(&w)) > 4; }, 30000));
            browser->topToolbar()->leftButtonView()->sendAction(); // Done
            ASSERT_TRUE(processUntil([&] { return !browser->modalView() || !browser->modalView()->window(); }, 30000));
            // Once the page has shrunk away, the tab is within reach again.
            EXPECT_TRUE(processUntil([&] { return readAsAScreenReader(QAccessible::queryAccessibleInterface(&w)) > 8; }, 30000));
            browser.reset();
            for (int turn = 0; turn < 4; ++turn)
                for (int tab = 0; tab < 4; ++tab) {
                    QTest::keyClick(&w, Qt::Key(Qt::Key_1 + tab), Qt::ControlModifier);
                    QtPlatform::settle();
                    readAsAScreenReader(QAccessible::queryAccessibleInterface(&w));
                }
            EXPECT_GT(readAsAScreenReader(QAccessible::queryAccessibleInterface(&w)), 8);
        }
    });
    QAccessible::setActive(false);
}
