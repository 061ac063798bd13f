// Under a phone's shell: the application's status bar gives way to the
// system's, and the text fields ask the phone's keyboard to show and to go
// over D-Bus (a stand-in keyboard service on a private session bus), the
// field being typed into kept above the keyboard when the screen is left
// lower than the application's smallest size.
#include "QtTestSupport.h"

#include "shells/qt/OnScreenKeyboard.h"
#include "shells/qt/PhoneShell.h"
#include "shells/qt/Scene.h"
#include "shells/qt/StatusBar.h"

#include "transfers/DownloadedTorrents.h"
#include "transfers/TipsViewController.h"
#include "web/DownloadViewController.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QLineEdit>
#include <QScopeGuard>

#include <gtest/gtest.h>
#include <map>

using namespace qtshell;

namespace {

// Stands in for the phone's keyboard: takes SetVisible, answers for its
// Visible property and says when it changes, as the keyboard does.
class StandInKeyboard : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() == OnScreenKeyboard::interface && message.member() == "SetVisible" && message.arguments().size() == 1) {
            const bool visible = message.arguments()[0].toBool();
            calls.push_back(visible);
            connection.send(message.createReply());
            if (visible != shown) {
                shown = visible;
                auto changed = QDBusMessage::createSignal(OnScreenKeyboard::path, "org.freedesktop.DBus.Properties", "PropertiesChanged");
                changed << QString(OnScreenKeyboard::interface) << QVariantMap { { "Visible", visible } } << QStringList();
                connection.send(changed);
            }
            return true;
        }
        if (message.member() == "Get") {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(shown))));
            return true;
        }
        return false;
    }
    std::vector<bool> calls;
    bool shown { false };
};

class OnScreenKeyboardTest : public AppInWindowTest {
protected:
    void TearDown() override
    {
        PhoneShell::setActive(false);
        AppInWindowTest::TearDown();
    }
};

TEST_F(OnScreenKeyboardTest, FieldsAskThePhonesKeyboardAndStayAboveIt)
{
    if (!PrivateBus::available())
        GTEST_SKIP() << "dbus-daemon is not installed";
    PrivateBus bus;
    const QString address = bus.address();
    ASSERT_FALSE(address.isEmpty()) << "the test's own bus did not start";

    auto client = QDBusConnection::connectToBus(address, "keyboard-client");
    ASSERT_TRUE(client.isConnected());
    // No keyboard on the bus yet: the request comes to nothing, and says nothing.
    OnScreenKeyboard keyboard(client);
    keyboard.setVisible(true);
    keyboard.setVisible(false);
    QtPlatform::settle();

    auto service = QDBusConnection::connectToBus(address, "keyboard-service");
    StandInKeyboard standIn;
    ASSERT_TRUE(service.registerVirtualObject(OnScreenKeyboard::path, &standIn));
    ASSERT_TRUE(service.registerService(OnScreenKeyboard::service));
    auto unregister = qScopeGuard([&] {
        service.unregisterObject(OnScreenKeyboard::path);
        QDBusConnection::disconnectFromBus("keyboard-service");
        QDBusConnection::disconnectFromBus("keyboard-client");
    });
    OnScreenKeyboard::setShared(&keyboard);
    PhoneShell::setActive(true);

    runApp([&](QtPlatform&, AppWindow& w) {
        // One status bar, the system's: the screens take its 20 points.
        EXPECT_FALSE(w.statusBar().isVisible());
        EXPECT_EQ(tabs().view().frame(), kit::Rect(0, 0, float(w.width()), float(w.height())));
        answer(w, 0);

        tabs().setSelectedIndex(1);
        QtPlatform::settle();
        auto* browse = dynamic_cast<DownloadViewController*>(tabs().viewControllers()[1].get());
        ASSERT_NE(browse, nullptr);
        auto* peer = w.scene().peerFor(browse->urlField);
        ASSERT_NE(peer, nullptr);
        const QPoint on = peer->mapTo(&w, peer->rect().center());
        QTest::touchEvent(&w, touchScreen()).press(0, on);
        QTest::touchEvent(&w, touchScreen()).release(0, on);
        ASSERT_TRUE(processUntil([&] { return !standIn.calls.empty(); })) << "the field asked for the keyboard";
        EXPECT_EQ(standIn.calls, std::vector<bool> { true });
        EXPECT_TRUE(processUntil([&] { return keyboard.isShown(); })) << "the keyboard says it is up";
        // Leaving the tab lets the keyboard go.
        tabs().setSelectedIndex(2);
        ASSERT_TRUE(processUntil([&] { return standIn.calls.size() == 2; }));
        EXPECT_EQ(standIn.calls, (std::vector<bool> { true, false }));
        EXPECT_TRUE(processUntil([&] { return !keyboard.isShown(); }));

        // A turned phone with its keyboard up leaves less than the
        // application's smallest height: the screen shifts so that the
        // field being typed into stays in what is left, and comes back after.
        tabs().setSelectedIndex(3);
        QtPlatform::settle();
        auto* transfer = dynamic_cast<DownloadedTorrents*>(tabs().viewControllers()[3].get());
        ASSERT_NE(transfer, nullptr);
        transfer->goQueue();
        QtPlatform::settle();
        auto* options = dynamic_cast<TipsViewController*>(transfer->modalViewController());
        ASSERT_NE(options, nullptr);
        w.resize(640, 120);
        QtPlatform::settle();
        ASSERT_EQ(w.height(), 120) << "the window follows what the shell leaves";
        EXPECT_EQ(kit::Window::screenBounds(), kit::Rect(0, 0, 640, 288));
        options->atOnceTextField->becomeFirstResponder();
        QtPlatform::settle();
        auto* field = w.scene().peerFor(options->atOnceTextField)->findChild<QLineEdit*>();
        ASSERT_NE(field, nullptr);
        ASSERT_TRUE(field->hasFocus());
        const QRect shown(field->mapTo(&w, QPoint(0, 0)), field->size());
        EXPECT_GE(shown.top(), 0);
        EXPECT_LE(shown.bottom(), w.height() - 1) << "the field stays above the keyboard";
        EXPECT_LT(w.scene().rootPeer()->y(), 0);
        EXPECT_TRUE(processUntil([&] { return standIn.calls.size() == 3; }));
        options->atOnceTextField->resignFirstResponder();
        QtPlatform::settle();
        EXPECT_EQ(w.scene().rootPeer()->y(), 0);
        EXPECT_TRUE(processUntil([&] { return standIn.calls.size() == 4; }));
        EXPECT_EQ(standIn.calls, (std::vector<bool> { true, false, true, false }));
        options->dismissAction(nullptr);
        w.resize(320, 480);
        QtPlatform::settle();
    });
}

} // namespace

namespace {

TEST(PhoneShellTest, TheSessionSaysWhetherAPhonesShellIsAround)
{
    struct Case {
        std::map<std::string, std::string> variables;
        bool phone;
    };
    const std::vector<Case> cases {
        { { { "XDG_CURRENT_DESKTOP", "Phosh:GNOME" } }, true },
        { { { "XDG_CURRENT_DESKTOP", "GNOME:phosh" } }, true },
        { { { "XDG_CURRENT_DESKTOP", "KDE" }, { "PLASMA_PLATFORM", "phone:handheld" } }, true },
        { { { "XDG_CURRENT_DESKTOP", "KDE" }, { "PLASMA_PLATFORM", "desktop" } }, false },
        { { { "XDG_CURRENT_DESKTOP", "GNOME" } }, false },
        { { { "XDG_CURRENT_DESKTOP", "PhoshLike" } }, false },
        { {}, false },
        { { { "XDG_CURRENT_DESKTOP", "GNOME" }, { "QUORVANE_PHONE_SHELL", "1" } }, true },
        { { { "XDG_CURRENT_DESKTOP", "Phosh:GNOME" }, { "QUORVANE_PHONE_SHELL", "0" } }, false },
    };
    for (const auto& c : cases) {
        auto variable = [&](const char* name) {
            auto it = c.variables.find(name);
            return it == c.variables.end() ? std::string() : it->second;
        };
        std::string said;
        for (auto& [name, value] : c.variables)
            said += name + "=" + value + " ";
        EXPECT_EQ(qtshell::PhoneShell::detect(variable), c.phone) << said;
    }
}

} // namespace
