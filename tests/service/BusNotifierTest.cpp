// The service's desktop notices: a private bus of the test's own, with a
// notification server written here on a libdbus connection of its own that
// the test turns by hand; the notifier runs on kit's loop.
#include "shells/service/BusNotifier.h"

#include "tests/support/LoopTest.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/TempFolder.h"

#include "kit/core/Clock.h"
#include "kit/net/URLEscape.h"

#include <dbus/dbus.h>

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

using serviceshell::BusNotifier;
using testsupport::TempFolder;

constexpr const char* daemonPath = "/usr/bin/dbus-daemon";

// A session bus that serves nothing but the test: no service is startable on it.
class PrivateBus {
public:
    explicit PrivateBus(const TempFolder& folder, const std::string& name)
    {
        const std::string config = folder / (name + ".conf");
        testsupport::writeFile(config,
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:dir="
                + folder.path() + "</listen><auth>EXTERNAL</auth>"
                                  "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        m_daemon = std::make_unique<testsupport::ServerProcess>(daemonPath,
            std::vector<std::string> { "--config-file=" + config, "--nofork", "--print-address=1" });
    }
    std::string address() const { return m_daemon->firstLine(); }
    void stop() { m_daemon->stop(); }

private:
    std::unique_ptr<testsupport::ServerProcess> m_daemon;
};

struct NotifyCall {
    std::string app, icon, title, body;
    uint32_t replaces { 99 };
    std::vector<std::string> actions;
    int hints { -1 };
    int32_t expires { 0 };
};

// Stands in for the desktop's notification server.
class FakeServer {
public:
    explicit FakeServer(const std::string& address)
    {
        DBusError error;
        dbus_error_init(&error);
        m_connection = dbus_connection_open_private(address.c_str(), &error);
        if (m_connection && dbus_bus_register(m_connection, &error))
            owner = dbus_bus_request_name(m_connection, "org.freedesktop.Notifications", DBUS_NAME_FLAG_DO_NOT_QUEUE, &error)
                == DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER;
        dbus_error_free(&error);
    }
    ~FakeServer()
    {
        if (m_connection) {
            dbus_connection_close(m_connection);
            dbus_connection_unref(m_connection);
        }
    }
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    // Answers every Notify that came, each with the next id.
    void pump()
    {
        dbus_connection_read_write(m_connection, 0);
        while (DBusMessage* message = dbus_connection_pop_message(m_connection)) {
            if (dbus_message_is_method_call(message, "org.freedesktop.Notifications", "Notify")) {
                calls.push_back(read(message));
                DBusMessage* reply = dbus_message_new_method_return(message);
                dbus_uint32_t id = 40 + uint32_t(calls.size());
                dbus_message_append_args(reply, DBUS_TYPE_UINT32, &id, DBUS_TYPE_INVALID);
                dbus_connection_send(m_connection, reply, nullptr);
                dbus_message_unref(reply);
            }
            dbus_message_unref(message);
        }
        dbus_connection_flush(m_connection);
    }
    uint32_t lastId() const { return 40 + uint32_t(calls.size()); }

    // A person chose the button `key` of notice `id`.
    void invoke(uint32_t id, const std::string& key)
    {
        DBusMessage* signal = dbus_message_new_signal("/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
        const char* keyArg = key.c_str();
        dbus_message_append_args(signal, DBUS_TYPE_UINT32, &id, DBUS_TYPE_STRING, &keyArg, DBUS_TYPE_INVALID);
        dbus_connection_send(m_connection, signal, nullptr);
        dbus_message_unref(signal);
        dbus_connection_flush(m_connection);
    }

    bool owner { false };
    std::vector<NotifyCall> calls;

private:
    static std::string text(DBusMessageIter& it)
    {
        const char* s = "";
        if (dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_STRING)
            dbus_message_iter_get_basic(&it, &s);
        dbus_message_iter_next(&it);
        return s;
    }
    static NotifyCall read(DBusMessage* message)
    {
        NotifyCall call;
        if (std::string(dbus_message_get_signature(message)) != "susssasa{sv}i")
            return call;
        DBusMessageIter it, sub;
        dbus_message_iter_init(message, &it);
        call.app = text(it);
        dbus_message_iter_get_basic(&it, &call.replaces);
        dbus_message_iter_next(&it);
        call.icon = text(it);
        call.title = text(it);
        call.body = text(it);
        dbus_message_iter_recurse(&it, &sub);
        while (dbus_message_iter_get_arg_type(&sub) == DBUS_TYPE_STRING)
            call.actions.push_back(text(sub));
        dbus_message_iter_next(&it);
        dbus_message_iter_recurse(&it, &sub);
        call.hints = 0;
        while (dbus_message_iter_get_arg_type(&sub) != DBUS_TYPE_INVALID) {
            ++call.hints;
            dbus_message_iter_next(&sub);
        }
        dbus_message_iter_next(&it);
        dbus_message_iter_get_basic(&it, &call.expires);
        return call;
    }

    DBusConnection* m_connection { nullptr };
};

class BusNotifierTest : public testsupport::LoopTest {
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS"))
            m_savedAddress = old;
    }
    void TearDown() override
    {
        if (m_savedAddress)
            setenv("DBUS_SESSION_BUS_ADDRESS", m_savedAddress->c_str(), 1);
        else
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    std::optional<std::string> m_savedAddress;
    TempFolder folder;
};

TEST_F(BusNotifierTest, WithoutABusShowSaysSoAtOnceAndStartsNone)
{
    BusNotifier notifier;
    kit::RealClock real;
    const double start = real.now();
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quorvane-test-bus", 1);
    EXPECT_FALSE(notifier.show("Download complete", "a.torrent"));
    // No address at all: the runtime folder has no bus, and none is launched.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::optional<std::string> savedRuntime = runtime ? std::optional<std::string>(runtime) : std::nullopt;
    setenv("XDG_RUNTIME_DIR", folder.path().c_str(), 1);
    EXPECT_FALSE(notifier.show("Download complete", "a.torrent"));
    savedRuntime ? setenv("XDG_RUNTIME_DIR", savedRuntime->c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
    EXPECT_LT(real.now() - start, 1.0);
    EXPECT_FALSE(notifier.isConnected());
}

TEST_F(BusNotifierTest, TheServerGetsTheNoticeItsButtonsOpenTheirAddressAndALostBusIsJoinedAgain)
{
    if (::access(daemonPath, X_OK) != 0)
        GTEST_SKIP() << "dbus-daemon is not installed";
    PrivateBus bus(folder, "first");
    ASSERT_FALSE(bus.address().empty());
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);

    const size_t watchesBefore = kit::RunLoop::main().watchCount();
    BusNotifier notifier;
    std::vector<std::string> handed;
    notifier.onAction = [&](const std::string& url) { handed.push_back(url); };
    EXPECT_FALSE(notifier.show("Download complete", "first.torrent")) << "a bus, but no server on it";
    EXPECT_TRUE(notifier.isConnected());

    FakeServer server(bus.address());
    ASSERT_TRUE(server.owner);
    // A name that is no UTF-8 reaches the server readable, the process alive.
    const BusNotifier::Actions actions { { "Open", "file:///downloads/film.mkv" }, { "Show in folder", "file:///downloads" } };
    ASSERT_TRUE(notifier.show("Download complete", "caf\xe9.torrent", actions));
    ASSERT_TRUE(waitFor([&] { server.pump(); return server.calls.size() == 1; }));
    const auto& call = server.calls[0];
    EXPECT_EQ(call.app, "Quorvane");
    EXPECT_EQ(call.replaces, 0u);
    EXPECT_EQ(call.icon, "quorvane");
    EXPECT_EQ(call.title, "Download complete");
    EXPECT_EQ(call.body, "caf\xef\xbf\xbd.torrent");
    EXPECT_EQ(call.actions, (std::vector<std::string> { BusNotifier::actionKey(0), "Open", BusNotifier::actionKey(1), "Show in folder" }));
    EXPECT_EQ(call.hints, 0);
    EXPECT_EQ(call.expires, BusNotifier::shownForMs);

    // Another notice's button is not ours; ours hands its address over once.
    const uint32_t id = server.lastId();
    server.invoke(id + 7, BusNotifier::actionKey(0));
    server.invoke(id, BusNotifier::actionKey(1));
    ASSERT_TRUE(waitFor([&] { return !handed.empty(); }));
    EXPECT_EQ(handed, std::vector<std::string> { "file:///downloads" });
    server.invoke(id, BusNotifier::actionKey(0)); // already answered
    ASSERT_TRUE(notifier.show("Download complete", "second.torrent", { { "Open", "file:///downloads/second" } }));
    ASSERT_TRUE(waitFor([&] { server.pump(); return server.calls.size() == 2; }));
    server.invoke(server.lastId(), BusNotifier::actionKey(0));
    // The server's signals come in order: the repeat was passed over before this.
    ASSERT_TRUE(waitFor([&] { return handed.size() == 2; }));
    EXPECT_EQ(handed, (std::vector<std::string> { "file:///downloads", "file:///downloads/second" }));

    // The bus goes: the connection is let go, its descriptors unwatched.
    bus.stop();
    ASSERT_TRUE(waitFor([&] { return !notifier.isConnected(); }));
    kit::RunLoop::main().runOnce(0);
    EXPECT_EQ(kit::RunLoop::main().watchCount(), watchesBefore) << "a dead connection's descriptor would wake the loop forever";
    EXPECT_FALSE(notifier.show("Download complete", "third.torrent"));

    // A new bus: the next notice finds it.
    PrivateBus again(folder, "second");
    setenv("DBUS_SESSION_BUS_ADDRESS", again.address().c_str(), 1);
    FakeServer newServer(again.address());
    ASSERT_TRUE(newServer.owner);
    ASSERT_TRUE(notifier.show("Download complete", "fourth.torrent"));
    ASSERT_TRUE(waitFor([&] { newServer.pump(); return newServer.calls.size() == 1; }));
    EXPECT_EQ(newServer.calls[0].body, "fourth.torrent");
}

// The bus daemon's own process id, as it tells it.
pid_t daemonPid(const std::string& address)
{
    DBusError error;
    dbus_error_init(&error);
    dbus_uint32_t pid = 0;
    DBusConnection* connection = dbus_connection_open_private(address.c_str(), &error);
    if (connection && dbus_bus_register(connection, &error)) {
        DBusMessage* call = dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetConnectionUnixProcessID");
        const char* name = "org.freedesktop.DBus";
        dbus_message_append_args(call, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
        if (DBusMessage* reply = dbus_connection_send_with_reply_and_block(connection, call, 5000, &error)) {
            dbus_message_get_args(reply, &error, DBUS_TYPE_UINT32, &pid, DBUS_TYPE_INVALID);
            dbus_message_unref(reply);
        }
        dbus_message_unref(call);
    }
    if (connection) {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
    dbus_error_free(&error);
    return pid_t(pid);
}

TEST_F(BusNotifierTest, ABusThatDoesNotAnswerHoldsTheServiceAtMostTheBound)
{
    if (::access(daemonPath, X_OK) != 0)
        GTEST_SKIP() << "dbus-daemon is not installed";
    PrivateBus bus(folder, "stopped");
    const pid_t pid = daemonPid(bus.address());
    ASSERT_GT(pid, 0);
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
    // Stopped, it still accepts the connection but never greets it.
    ::kill(pid, SIGSTOP);
    BusNotifier notifier;
    kit::RealClock real;
    const double start = real.now();
    const bool shown = notifier.show("Download complete", "a.torrent");
    const double took = real.now() - start;
    ::kill(pid, SIGCONT);
    EXPECT_FALSE(shown);
    EXPECT_LT(took, BusNotifier::busAnswerBound / 1000.0 + 1);
}

TEST_F(BusNotifierTest, OnlyFileAndWebAddressesAreOpenedEachAsOneArgument)
{
    // A stand-in for the desktop's opener that writes down what it was given.
    const std::string bin = folder / "bin", record = folder / "opened";
    testsupport::writeFile(bin + "/xdg-open", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " + record + ".part && mv " + record + ".part " + record + "\n", true);
    const char* oldPath = std::getenv("PATH");
    const std::string savedPath = oldPath ? oldPath : "";
    setenv("PATH", (bin + ":" + savedPath).c_str(), 1);

    const std::string film = folder / "my film & co.mkv";
    testsupport::writeFile(film, "x");
    EXPECT_FALSE(BusNotifier::openAddress("ftp://example.test/a"));
    EXPECT_FALSE(BusNotifier::openAddress("javascript:alert(1)"));
    EXPECT_FALSE(BusNotifier::openAddress("file:///nonexistent/quorvane/film.mkv"));
    EXPECT_FALSE(BusNotifier::openAddress("http://example.test/a b"));
    EXPECT_FALSE(testsupport::fileExists(record));

    ASSERT_TRUE(BusNotifier::openAddress(kit::fileURLWithPath(film)));
    const bool opened = waitFor([&] { return testsupport::fileExists(record); });
    setenv("PATH", savedPath.c_str(), 1);
    ASSERT_TRUE(opened);
    EXPECT_EQ(testsupport::readFile(record), film + "\n");
}

} // namespace
