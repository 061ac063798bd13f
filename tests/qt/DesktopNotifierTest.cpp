// The window's desktop notifications: through a notification service on a
// private session bus of the test's own, and the way round when there is no
// service or no bus. Each test runs in a process of its own, so each can
// choose the session bus before Qt first connects to one.
#include "shells/qt/DesktopNotifier.h"

#include "QtTestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QMenu>

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

namespace {

using Route = qtshell::DesktopNotifier::Route;

// Stands in for the desktop's notification service.
class FakeService : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != "Notify")
            return false;
        calls.push_back(message.arguments());
        connection.send(message.createReply(QVariantList { uint(calls.size()) }));
        return true;
    }
    // The person chose a button of notification `id`, as the service says it.
    static void invoke(const QDBusConnection& connection, uint id, const QString& key)
    {
        auto signal = QDBusMessage::createSignal("/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
        signal << id << key;
        connection.send(signal);
    }
    std::vector<QVariantList> calls;
};

std::optional<Route> showAndWait(qtshell::DesktopNotifier& notifier, const QString& title, const QString& body)
{
    std::optional<Route> route;
    notifier.onShown = [&](Route r) { route = r; };
    notifier.show(title, body);
    processUntil([&] { return route.has_value(); });
    return route;
}

TEST(DesktopNotifierTest, WithoutABusTheTrayOrTheLogTakesIt)
{
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quorvane-test-bus", 1);
    qtshell::DesktopNotifier notifier;
    auto route = showAndWait(notifier, "Download complete", "a.torrent");
    ASSERT_TRUE(route);
    EXPECT_NE(*route, Route::Service);
}

TEST(DesktopNotifierTest, TheServiceGetsTheNotificationAndItsAbsenceFallsBack)
{
    if (!PrivateBus::available())
        GTEST_SKIP() << "dbus-daemon is not installed";
    PrivateBus bus;
    const QString address = bus.address();
    ASSERT_FALSE(address.isEmpty()) << "the test's own bus did not start";
    setenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8().constData(), 1);

    {
        qtshell::DesktopNotifier notifier;
        auto before = showAndWait(notifier, "Download complete", "first.torrent");
        ASSERT_TRUE(before);
        EXPECT_NE(*before, Route::Service) << "no service on the bus yet";

        auto service = QDBusConnection::connectToBus(address, "notification-service");
        ASSERT_TRUE(service.isConnected());
        FakeService fake;
        ASSERT_TRUE(service.registerVirtualObject("/org/freedesktop/Notifications", &fake));
        ASSERT_TRUE(service.registerService("org.freedesktop.Notifications"));

        auto after = showAndWait(notifier, "Download complete", "second.torrent");
        ASSERT_TRUE(after);
        EXPECT_EQ(*after, Route::Service);
        ASSERT_EQ(fake.calls.size(), 1u);
        const auto& args = fake.calls[0];
        ASSERT_EQ(args.size(), 8);
        EXPECT_EQ(args[0].toString(), "Quorvane");
        EXPECT_EQ(args[3].toString(), "Download complete");
        EXPECT_EQ(args[4].toString(), "second.torrent");

        // With buttons: the service is given them as keys and titles, and the
        // one chosen (for this notification only) hands its address over once.
        std::vector<std::string> handed;
        notifier.onAction = [&](const std::string& url) { handed.push_back(url); };
        const qtshell::DesktopNotifier::Actions actions {
            { "Open", "file:///downloads/film.mkv" },
            { "Show in folder", "file:///downloads" },
        };
        std::optional<Route> withButtons;
        notifier.onShown = [&](Route r) { withButtons = r; };
        notifier.show("Download complete", "film.torrent", actions);
        ASSERT_TRUE(processUntil([&] { return withButtons.has_value(); }));
        ASSERT_EQ(fake.calls.size(), 2u);
        EXPECT_EQ(fake.calls[1][5].toStringList(),
            (QStringList { qtshell::DesktopNotifier::actionKey(0), "Open", qtshell::DesktopNotifier::actionKey(1), "Show in folder" }));
        const uint id = 2;
        FakeService::invoke(service, id + 7, qtshell::DesktopNotifier::actionKey(0)); // someone else's
        FakeService::invoke(service, id, qtshell::DesktopNotifier::actionKey(1));
        ASSERT_TRUE(processUntil([&] { return !handed.empty(); }));
        EXPECT_EQ(handed, std::vector<std::string> { "file:///downloads" });
        FakeService::invoke(service, id, qtshell::DesktopNotifier::actionKey(0)); // already answered
        // The service's next answer comes after that signal, on the same connection.
        ASSERT_TRUE(showAndWait(notifier, "Download complete", "third.torrent"));
        EXPECT_EQ(handed.size(), 1u);

        service.unregisterObject("/org/freedesktop/Notifications");
        QDBusConnection::disconnectFromBus("notification-service");
    }
}

TEST(DesktopNotifierTest, TheTrayOffersTheSameButtonsInItsMenu)
{
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quorvane-test-bus", 1);
    qtshell::DesktopNotifier notifier;
    std::vector<std::string> handed;
    notifier.onAction = [&](const std::string& url) { handed.push_back(url); };
    std::optional<Route> route;
    notifier.onShown = [&](Route r) { route = r; };
    notifier.show("Download complete", "film.torrent", { { "Open", "file:///d/film.mkv" }, { "Show in folder", "file:///d" } });
    ASSERT_TRUE(processUntil([&] { return route.has_value(); }));
    if (*route != Route::Tray)
        GTEST_SKIP() << "no tray here";
    ASSERT_NE(notifier.trayMenu(), nullptr);
    auto items = notifier.trayMenu()->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), "Open");
    EXPECT_EQ(items[1]->text(), "Show in folder");
    items[0]->trigger();
    EXPECT_EQ(handed, std::vector<std::string> { "file:///d/film.mkv" });
    // A message without buttons offers none.
    route.reset();
    notifier.show("Quorvane keeps running", "Start it again to show it.");
    ASSERT_TRUE(processUntil([&] { return route.has_value(); }));
    EXPECT_EQ(notifier.trayMenu(), nullptr);
}

TEST(DesktopNotifierTest, AChosenButtonOfAnUnknownNotificationDoesNothing)
{
    qtshell::DesktopNotifier notifier;
    std::vector<std::string> handed;
    notifier.onAction = [&](const std::string& url) { handed.push_back(url); };
    notifier.actionInvoked(1, qtshell::DesktopNotifier::actionKey(0));
    notifier.notificationClosed(1, 2);
    EXPECT_TRUE(handed.empty());
}

} // namespace
