// The window's desktop notifications: through a notification service on a
// private session bus of the test's own, and the way round when there is no
// service or no bus. Each test runs in a process of its own, so each can
// choose the session bus before Qt first connects to one.
#include "shells/qt/DesktopNotifier.h"

#include "QtTestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>

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
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed";
    QProcess bus;
    bus.start(daemon, { "--session", "--nofork", "--print-address=1", "--address=unix:tmpdir=/tmp" });
    ASSERT_TRUE(bus.waitForStarted(5000));
    auto stopBus = qScopeGuard([&] {
        bus.kill();
        bus.waitForFinished(5000);
    });
    ASSERT_TRUE(processUntil([&] { return bus.canReadLine(); }) || bus.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();
    ASSERT_FALSE(address.isEmpty());
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
        service.unregisterObject("/org/freedesktop/Notifications");
        QDBusConnection::disconnectFromBus("notification-service");
    }
}

} // namespace
