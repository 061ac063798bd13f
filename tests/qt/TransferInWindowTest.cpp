// A new user's first transfer, in the window: the Files tab lists the sample
// .torrent, a tap offers the file's actions, Download goes to the Transfer
// tab, Yes starts the real transfer client against a tracker and a seeder on
// loopback, and the window shows every piece arrive.
#include "QtTestSupport.h"

#include "shells/qt/AppWindow.h"
#include "shells/qt/PopupLayer.h"
#include "shells/qt/QtPlatform.h"
#include "shells/qt/Scene.h"

#include "app/HalvexAppDelegate.h"
#include "app/QuorvaneMain.h"
#include "kit/core/ChildProcess.h"
#include "kit/core/DeviceLayout.h"
#include "kit/ui/TableViewCell.h"
#include "transfers/DownloadedTorrents.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

using namespace qtshell;

namespace {

kit::View* findView(kit::View& v, const std::function<bool(kit::View&)>& match)
{
    if (match(v))
        return &v;
    for (auto& c : v.subviews())
        if (auto* found = findView(*c, match))
            return found;
    return nullptr;
}

// What a screen reader hears of the window's shown objects: role and name.
void heard(QAccessibleInterface* iface, std::vector<std::pair<QAccessible::Role, std::string>>& out, int depth = 0)
{
    if (!iface || !iface->isValid() || depth > 40 || iface->state().invisible)
        return;
    out.emplace_back(iface->role(), iface->text(QAccessible::Name).toStdString());
    if (iface->role() == QAccessible::Document)
        return;
    for (int i = 0; i < iface->childCount(); ++i)
        heard(iface->child(i), out, depth + 1);
}

bool hears(QWidget& window, QAccessible::Role role, const std::regex& name)
{
    std::vector<std::pair<QAccessible::Role, std::string>> all;
    heard(QAccessible::queryAccessibleInterface(&window), all);
    return std::any_of(all.begin(), all.end(), [&](auto& n) { return n.first == role && std::regex_match(n.second, name); });
}

bool screenShows(const std::string& text)
{
    return findView(*kit::Application::shared().keyWindow(), [&](kit::View& v) {
        return !v.isHidden() && v.displayText().find(text) != std::string::npos;
    }) != nullptr;
}

} // namespace

TEST(TransferInWindowTest, AFirstTransferArrivesInTheWindow)
{
    for (const char* tool : { "/usr/bin/ctorrent", "/usr/bin/opentracker" })
        if (!std::filesystem::exists(tool))
            GTEST_SKIP() << tool << " is not installed";
    testsupport::TempFolder folder;
    const std::string root = folder.path();
    const std::string downloads = root + "/var/mobile/Library/Downloads";
    std::filesystem::create_directories(downloads);
    std::filesystem::create_directories(root + "/usr/bin");
    std::filesystem::create_symlink("/usr/bin/ctorrent", root + "/usr/bin/ctorrent");

    QProcess swarm;
    swarm.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    swarm.start("python3", { QUORVANE_SOURCE_DIR "/tests/e2e/swarm.py", "--dir", QString::fromStdString(root + "/swarm"), "--torrent-out",
                               QString::fromStdString(downloads), "--lifetime", "120", "--watch-stdin" });
    ASSERT_TRUE(swarm.waitForStarted());
    QByteArray said;
    ASSERT_TRUE(processUntil([&] {
        swarm.waitForReadyRead(20);
        said += swarm.readAllStandardOutput();
        return said.contains("ready ") && said.endsWith('\n');
    }, 60000)) << said.constData();
    const std::string torrent = said.mid(said.indexOf("ready ") + 6).trimmed().toStdString();
    const std::string name = std::filesystem::path(torrent).filename();
    // Every piece: the client's status shows [have/total/available].
    QFile file(QString::fromStdString(torrent));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::string meta = file.readAll().toStdString();
    std::smatch pl, len;
    ASSERT_TRUE(std::regex_search(meta, pl, std::regex("12:piece lengthi(\\d+)e")));
    ASSERT_TRUE(std::regex_search(meta, len, std::regex("6:lengthi(\\d+)e")));
    const long long pieces = (std::stoll(len[1]) + std::stoll(pl[1]) - 1) / std::stoll(pl[1]);
    const std::string complete = "[" + std::to_string(pieces) + "/" + std::to_string(pieces) + "/";

    kit::RunLoop::main().reset();
    kit::RunLoop::main().setClock(std::make_shared<kit::RealClock>());
    kit::DeviceLayout::current().setRoot(root);
    auto platform = std::make_shared<QtPlatform>(Options {});
    platform->onRunning = [&](QtPlatform&) {
        auto& w = *platform->window();
        press(w, "Close"); // the first-run notice
        auto& tabs = *kit::Application::shared().delegateAs<HalvexAppDelegate>()->tabBarController;
        QTest::mouseClick(w.scene().peerFor(tabs.tabBar().get()), Qt::LeftButton, {}, QPoint(200, 25));
        QtPlatform::settle();
        EXPECT_EQ(tabs.selectedIndex(), 2);
        auto* row = findView(*kit::Application::shared().keyWindow(), [&](kit::View& v) {
            return dynamic_cast<kit::TableViewCell*>(&v) && v.displayText() == name;
        });
        EXPECT_NE(row, nullptr) << name << " is not listed";
        if (!row)
            return 1;
        QTest::mouseClick(w.scene().peerFor(row), Qt::LeftButton, {}, QPoint(40, 20));
        QtPlatform::settle();
        press(w, "Download");
        EXPECT_EQ(tabs.selectedIndex(), 3);
        press(w, "Yes");
        EXPECT_TRUE(processUntil([&] { return screenShows(complete); }, 90000)) << "never saw " << complete;
        // Read out, the client's turning mark is a busy wheel and the cut's
        // bare rates say their unit and direction; once the client is held
        // the wheel says nothing.
        const std::regex busy("Busy"), down("Download \\d+(\\.\\d)? [KMG]B per second"), up("Upload \\d+(\\.\\d)? [KMG]B per second");
        EXPECT_TRUE(processUntil([&] {
            return hears(w, QAccessible::Animation, busy) && hears(w, QAccessible::StaticText, down) && hears(w, QAccessible::StaticText, up);
        }, 10000));
        auto* transferTab = dynamic_cast<DownloadedTorrents*>(tabs.viewControllers()[3].get());
        if (!transferTab)
            return 1;
        EXPECT_TRUE(w.scene().peerFor(transferTab->pauseButton)->activate());
        EXPECT_TRUE(processUntil([&] { return !hears(w, QAccessible::Animation, busy); }, 10000));
        // Exit on the Welcome tab ends the transfer client too.
        kit::Application::shared().terminate();
        EXPECT_TRUE(processUntil([] { return kit::ChildProcess::runningCount() == 0; }, 30000));
        return 0;
    };
    EXPECT_EQ(runInWindow(platform), 0);
    swarm.closeWriteChannel();
    swarm.waitForFinished(30000);
}
