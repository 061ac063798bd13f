#include "shells/service/BusNotifier.h"

#include "kit/core/Ascii.h"
#include "kit/core/ChildProcess.h"
#include "kit/core/FdWatcher.h"
#include "kit/core/Log.h"
#include "kit/core/RunLoop.h"
#include "kit/core/Timer.h"
#include "kit/core/Utf8Decoder.h"
#include "kit/net/URLEscape.h"

#include <dbus/dbus.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <map>
#include <poll.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace serviceshell {

namespace {

constexpr const char* notifications = "org.freedesktop.Notifications";
constexpr const char* notificationsPath = "/org/freedesktop/Notifications";
constexpr const char* busName = "org.freedesktop.DBus";
constexpr const char* busPath = "/org/freedesktop/DBus";
// Messages dispatched in one turn of the loop; the rest wait for the next.
constexpr int dispatchBound = 64;

// libdbus aborts on text that is no UTF-8; a torrent's name may be anything.
std::string busText(const std::string& text)
{
    kit::Utf8Decoder decoder;
    std::string out = decoder.decode(text);
    out += decoder.finish();
    if (out.size() > BusNotifier::textBound) {
        size_t cut = BusNotifier::textBound;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut;
        out.resize(cut);
    }
    // A NUL would end the text early on the bus.
    for (auto& c : out)
        if (c == '\0')
            c = ' ';
    return out;
}

// The session's bus, never one started for the occasion.
std::string sessionAddress()
{
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) {
        std::string text = address;
        if (text.find("autolaunch:") != std::string::npos)
            return {};
        return text;
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        const std::string socket = std::string(runtime) + "/bus";
        struct stat info;
        if (::stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
            char* escaped = dbus_address_escape_value(socket.c_str());
            if (!escaped)
                return {};
            std::string address = std::string("unix:path=") + escaped;
            dbus_free(escaped);
            return address;
        }
    }
    return {};
}

struct BusError {
    BusError() { dbus_error_init(&error); }
    ~BusError() { dbus_error_free(&error); }
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
    bool isSet() const { return dbus_error_is_set(&error); }
    std::string text() const { return isSet() ? std::string(error.name) + ": " + (error.message ? error.message : "") : "no answer"; }
    DBusError error;
};

struct MessageRef {
    explicit MessageRef(DBusMessage* m) : message(m) { }
    ~MessageRef()
    {
        if (message)
            dbus_message_unref(message);
    }
    MessageRef(const MessageRef&) = delete;
    MessageRef& operator=(const MessageRef&) = delete;
    DBusMessage* message;
};

std::string findProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        std::string folder = folders.substr(start, end - start);
        if (!folder.empty() && folder[0] == '/') {
            std::string candidate = folder + "/" + name;
            struct stat info;
            if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        start = end + 1;
    }
    return {};
}


} // namespace

// One connection to the bus, with what libdbus asked the loop to watch.
struct BusNotifier::Bus : std::enable_shared_from_this<Bus> {
    struct Shown {
        uint32_t id;
        std::string server; // the unique name that answered Notify
        Actions actions;
    };

    DBusConnection* connection { nullptr };
    std::map<DBusWatch*, std::unique_ptr<kit::FdWatcher>> watches;
    std::map<DBusTimeout*, std::shared_ptr<kit::Timer>> timeouts;
    std::set<DBusPendingCall*> pending;
    std::deque<Shown> shown;
    std::weak_ptr<BusNotifier*> owner;
    bool attached { false };
    bool lost { false };
    bool dispatchPosted { false };

    ~Bus() { close(); }

    bool usable() const { return connection && !lost && dbus_connection_get_is_connected(connection); }

    void close()
    {
        if (!connection)
            return;
        DBusConnection* c = connection;
        for (auto* call : pending) {
            dbus_pending_call_cancel(call);
            dbus_pending_call_unref(call);
        }
        pending.clear();
        if (attached) {
            // libdbus aborts on removing a filter it does not hold.
            dbus_connection_remove_filter(c, &Bus::filter, this);
            dbus_connection_set_dispatch_status_function(c, nullptr, nullptr, nullptr);
            dbus_connection_set_watch_functions(c, nullptr, nullptr, nullptr, nullptr, nullptr);
            dbus_connection_set_timeout_functions(c, nullptr, nullptr, nullptr, nullptr, nullptr);
            attached = false;
        }
        dbus_connection_close(c);
        dbus_connection_unref(c);
        watches.clear();
        timeouts.clear();
        connection = nullptr;
    }

    void attach()
    {
        attached = true;
        dbus_connection_add_filter(connection, &Bus::filter, this, nullptr);
        dbus_connection_set_watch_functions(connection, &Bus::addWatch, &Bus::removeWatch, &Bus::toggleWatch, this, nullptr);
        dbus_connection_set_timeout_functions(connection, &Bus::addTimeout, &Bus::removeTimeout, &Bus::toggleTimeout, this, nullptr);
        dbus_connection_set_dispatch_status_function(connection, &Bus::statusChanged, this, nullptr);
        scheduleDispatch();
    }

    // --- the loop drives libdbus

    static dbus_bool_t addWatch(DBusWatch* watch, void* data)
    {
        auto* bus = static_cast<Bus*>(data);
        bus->watches.erase(watch);
        if (!dbus_watch_get_enabled(watch))
            return TRUE;
        const unsigned flags = dbus_watch_get_flags(watch);
        unsigned events = kit::FdWatcher::Error;
        if (flags & DBUS_WATCH_READABLE)
            events |= kit::FdWatcher::Read;
        if (flags & DBUS_WATCH_WRITABLE)
            events |= kit::FdWatcher::Write;
        bus->watches[watch] = std::make_unique<kit::FdWatcher>(dbus_watch_get_unix_fd(watch), events, [bus, watch](unsigned ready) {
            unsigned flags = 0;
            if (ready & kit::FdWatcher::Read)
                flags |= DBUS_WATCH_READABLE;
            if (ready & kit::FdWatcher::Write)
                flags |= DBUS_WATCH_WRITABLE;
            if (ready & kit::FdWatcher::Error)
                flags |= DBUS_WATCH_ERROR | DBUS_WATCH_HANGUP;
            // Handling may drop this very watcher (and this callback with it).
            Bus* self = bus;
            dbus_watch_handle(watch, flags);
            self->scheduleDispatch();
        });
        return TRUE;
    }
    static void removeWatch(DBusWatch* watch, void* data) { static_cast<Bus*>(data)->watches.erase(watch); }
    static void toggleWatch(DBusWatch* watch, void* data) { addWatch(watch, data); }

    static dbus_bool_t addTimeout(DBusTimeout* timeout, void* data)
    {
        auto* bus = static_cast<Bus*>(data);
        bus->timeouts.erase(timeout);
        if (!dbus_timeout_get_enabled(timeout))
            return TRUE;
        const double interval = std::max(1, dbus_timeout_get_interval(timeout)) / 1000.0;
        bus->timeouts[timeout] = kit::Timer::scheduled(interval, true, [bus, timeout](kit::Timer&) {
            Bus* self = bus;
            dbus_timeout_handle(timeout);
            self->scheduleDispatch();
        });
        return TRUE;
    }
    static void removeTimeout(DBusTimeout* timeout, void* data)
    {
        auto& timeouts = static_cast<Bus*>(data)->timeouts;
        if (auto it = timeouts.find(timeout); it != timeouts.end()) {
            it->second->invalidate();
            timeouts.erase(it);
        }
    }
    static void toggleTimeout(DBusTimeout* timeout, void* data) { addTimeout(timeout, data); }

    static void statusChanged(DBusConnection*, DBusDispatchStatus status, void* data)
    {
        if (status == DBUS_DISPATCH_DATA_REMAINS)
            static_cast<Bus*>(data)->scheduleDispatch();
    }

    // Never from inside libdbus: the messages are dispatched as posted work.
    void scheduleDispatch()
    {
        if (!connection || dispatchPosted || dbus_connection_get_dispatch_status(connection) != DBUS_DISPATCH_DATA_REMAINS)
            return;
        dispatchPosted = true;
        kit::RunLoop::main().post([weak = weak_from_this()] {
            auto bus = weak.lock();
            if (!bus || !bus->connection)
                return;
            bus->dispatchPosted = false;
            for (int i = 0; i < dispatchBound && bus->connection; ++i)
                if (dbus_connection_dispatch(bus->connection) != DBUS_DISPATCH_DATA_REMAINS)
                    return;
            bus->scheduleDispatch();
        });
    }

    // --- what the bus says

    static DBusHandlerResult filter(DBusConnection*, DBusMessage* message, void* data)
    {
        auto* bus = static_cast<Bus*>(data);
        if (dbus_message_is_signal(message, DBUS_INTERFACE_LOCAL, "Disconnected")) {
            // Dropped on the next show(); libdbus has let the descriptor go.
            bus->lost = true;
            return DBUS_HANDLER_RESULT_HANDLED;
        }
        if (dbus_message_is_signal(message, notifications, "ActionInvoked")) {
            dbus_uint32_t id = 0;
            const char* key = nullptr;
            BusError error;
            if (dbus_message_get_args(message, &error.error, DBUS_TYPE_UINT32, &id, DBUS_TYPE_STRING, &key, DBUS_TYPE_INVALID))
                bus->invoked(id, key, dbus_message_get_sender(message));
        } else if (dbus_message_is_signal(message, notifications, "NotificationClosed")) {
            dbus_uint32_t id = 0, reason = 0;
            BusError error;
            if (dbus_message_get_args(message, &error.error, DBUS_TYPE_UINT32, &id, DBUS_TYPE_UINT32, &reason, DBUS_TYPE_INVALID))
                bus->forget(id, dbus_message_get_sender(message));
        }
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }

    std::deque<Shown>::iterator find(uint32_t id, const char* sender)
    {
        for (auto it = shown.begin(); it != shown.end(); ++it)
            if (it->id == id && sender && it->server == sender)
                return it;
        return shown.end();
    }

    void forget(uint32_t id, const char* sender)
    {
        if (auto it = find(id, sender); it != shown.end())
            shown.erase(it);
    }

    void invoked(uint32_t id, const std::string& key, const char* sender)
    {
        auto it = find(id, sender);
        if (it == shown.end())
            return;
        auto actions = std::move(it->actions);
        shown.erase(it);
        for (size_t i = 0; i < actions.size(); ++i) {
            if (key != actionKey(i))
                continue;
            kit::log("Notification action: " + actions[i].title + " " + actions[i].url);
            // The owner's answer runs on the loop, outside libdbus.
            kit::RunLoop::main().post([owner = owner, url = actions[i].url] {
                if (auto self = owner.lock(); self && *self && (*self)->onAction)
                    (*self)->onAction(url);
            });
            return;
        }
    }

    void remember(uint32_t id, std::string server, Actions actions)
    {
        if (actions.empty())
            return;
        while (shown.size() >= rememberedNotices)
            shown.pop_front();
        shown.push_back({ id, std::move(server), std::move(actions) });
    }

    // --- questions to the bus daemon, all of one show() waited for at most busAnswerBound

    std::chrono::steady_clock::time_point deadline;
    void startAsking() { deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(busAnswerBound); }

    int millisecondsLeft() const
    {
        return int(std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count()));
    }

    // The answer, or null (error says why). libdbus's own blocking calls
    // first write out what is queued with no time limit, which never ends
    // while a stopped bus does not read: the answer is waited for here,
    // turning the connection by hand until the deadline.
    DBusMessage* ask(const char* member, const char* name, BusError& error)
    {
        MessageRef call(dbus_message_new_method_call(busName, busPath, busName, member));
        if (!call.message || millisecondsLeft() <= 0)
            return nullptr;
        if (name && !dbus_message_append_args(call.message, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID))
            return nullptr;
        DBusPendingCall* pendingCall = nullptr;
        if (!dbus_connection_send_with_reply(connection, call.message, &pendingCall, busAnswerBound) || !pendingCall)
            return nullptr;
        while (!dbus_pending_call_get_completed(pendingCall) && dbus_connection_get_is_connected(connection)) {
            const int left = millisecondsLeft();
            if (left <= 0)
                break;
            int fd = -1;
            if (!dbus_connection_get_socket(connection, &fd))
                break;
            // Reading wakes this; what waits to be written (the greeting
            // waits for the bus to accept us) is tried every few milliseconds.
            pollfd ready { fd, POLLIN, 0 };
            ::poll(&ready, 1, std::min(left, 20));
            dbus_connection_read_write(connection, 0);
            // Completes the answer; what else came (our signals) is dispatched
            // too, and what it asks of the owner is posted to the loop.
            for (int i = 0; i < dispatchBound && dbus_connection_dispatch(connection) == DBUS_DISPATCH_DATA_REMAINS; ++i) { }
        }
        DBusMessage* reply = dbus_pending_call_get_completed(pendingCall) ? dbus_pending_call_steal_reply(pendingCall) : nullptr;
        if (!reply)
            dbus_pending_call_cancel(pendingCall);
        dbus_pending_call_unref(pendingCall);
        scheduleDispatch();
        if (reply && dbus_set_error_from_message(&error.error, reply)) {
            dbus_message_unref(reply);
            return nullptr;
        }
        return reply;
    }

    bool hello()
    {
        BusError error;
        MessageRef reply(ask("Hello", nullptr, error));
        const char* unique = nullptr;
        if (!reply.message || !dbus_message_get_args(reply.message, &error.error, DBUS_TYPE_STRING, &unique, DBUS_TYPE_INVALID)) {
            kit::log("The session bus did not answer: " + error.text());
            return false;
        }
        return dbus_bus_set_unique_name(connection, unique);
    }

    // A notification server runs, or the bus can start one.
    bool serverThere()
    {
        BusError error;
        {
            MessageRef reply(ask("NameHasOwner", notifications, error));
            dbus_bool_t has = FALSE;
            if (!reply.message || !dbus_message_get_args(reply.message, &error.error, DBUS_TYPE_BOOLEAN, &has, DBUS_TYPE_INVALID))
                return false;
            if (has)
                return true;
        }
        MessageRef reply(ask("ListActivatableNames", nullptr, error));
        char** names = nullptr;
        int count = 0;
        if (!reply.message || !dbus_message_get_args(reply.message, &error.error, DBUS_TYPE_ARRAY, DBUS_TYPE_STRING, &names, &count, DBUS_TYPE_INVALID))
            return false;
        bool found = false;
        for (int i = 0; i < count && !found; ++i)
            found = std::string_view(names[i]) == notifications;
        dbus_free_string_array(names);
        return found;
    }

    // --- Notify, answered on the loop

    struct Call {
        std::weak_ptr<Bus> bus;
        std::string title, body;
        Actions actions;
    };

    static void answered(DBusPendingCall* call, void* data)
    {
        auto* notice = static_cast<Call*>(data);
        MessageRef reply(dbus_pending_call_steal_reply(call));
        auto bus = notice->bus.lock();
        if (bus && bus->pending.erase(call))
            dbus_pending_call_unref(call);
        BusError error;
        dbus_uint32_t id = 0;
        if (!reply.message || dbus_message_get_type(reply.message) == DBUS_MESSAGE_TYPE_ERROR
            || !dbus_message_get_args(reply.message, &error.error, DBUS_TYPE_UINT32, &id, DBUS_TYPE_INVALID)) {
            std::string why = reply.message && dbus_message_get_error_name(reply.message) ? dbus_message_get_error_name(reply.message) : error.text();
            kit::log("The desktop did not show the notice (" + why + "): " + notice->title + ": " + notice->body);
            return;
        }
        if (bus)
            bus->remember(id, dbus_message_get_sender(reply.message) ? dbus_message_get_sender(reply.message) : "", std::move(notice->actions));
    }

    bool notify(const std::string& title, const std::string& body, const Actions& actions)
    {
        MessageRef call(dbus_message_new_method_call(notifications, notificationsPath, notifications, "Notify"));
        if (!call.message)
            return false;
        const std::string titleText = busText(title), bodyText = busText(body);
        const char* app = appName;
        const char* icon = appIcon;
        const char* titleArg = titleText.c_str();
        const char* bodyArg = bodyText.c_str();
        dbus_uint32_t replaces = 0;
        dbus_int32_t expires = shownForMs;
        DBusMessageIter args, list, hints;
        dbus_message_iter_init_append(call.message, &args);
        bool ok = dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &app)
            && dbus_message_iter_append_basic(&args, DBUS_TYPE_UINT32, &replaces)
            && dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &icon)
            && dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &titleArg)
            && dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &bodyArg);
        if (!ok || !dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "s", &list))
            return false;
        for (size_t i = 0; i < actions.size() && i < actionBound; ++i) {
            const std::string key = actionKey(i), label = busText(actions[i].title);
            const char* keyArg = key.c_str();
            const char* labelArg = label.c_str();
            ok = ok && dbus_message_iter_append_basic(&list, DBUS_TYPE_STRING, &keyArg)
                && dbus_message_iter_append_basic(&list, DBUS_TYPE_STRING, &labelArg);
        }
        if (!dbus_message_iter_close_container(&args, &list) || !ok)
            return false;
        if (!dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &hints)
            || !dbus_message_iter_close_container(&args, &hints)
            || !dbus_message_iter_append_basic(&args, DBUS_TYPE_INT32, &expires))
            return false;

        DBusPendingCall* reply = nullptr;
        if (!dbus_connection_send_with_reply(connection, call.message, &reply, notifyAnswerBound) || !reply)
            return false;
        auto* notice = new Call { weak_from_this(), title, body, Actions(actions.begin(), actions.begin() + std::min(actions.size(), actionBound)) };
        if (!dbus_pending_call_set_notify(reply, &Bus::answered, notice, [](void* data) { delete static_cast<Call*>(data); })) {
            delete notice;
            dbus_pending_call_cancel(reply);
            dbus_pending_call_unref(reply);
            return false;
        }
        pending.insert(reply);
        return true;
    }
};

BusNotifier::BusNotifier()
    : m_self(std::make_shared<BusNotifier*>(this))
{
}

BusNotifier::~BusNotifier()
{
    *m_self = nullptr;
    drop();
}

bool BusNotifier::isConnected() const
{
    return m_bus && m_bus->usable();
}

void BusNotifier::drop()
{
    m_bus.reset();
}

bool BusNotifier::connect()
{
    const std::string address = sessionAddress();
    if (address.empty())
        return false;
    BusError error;
    DBusConnection* connection = dbus_connection_open_private(address.c_str(), &error.error);
    if (!connection) {
        // Once per address: without a bus every notice would say it again.
        if (address != m_unreachable)
            kit::log("No session bus at " + address + ": " + error.text());
        m_unreachable = address;
        return false;
    }
    m_unreachable.clear();
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    auto bus = std::make_shared<Bus>();
    bus->connection = connection;
    bus->owner = m_self;
    bus->startAsking();
    if (!bus->hello())
        return false;
    bus->attach();
    // Sent without waiting: the bus takes it before the first Notify.
    dbus_bus_add_match(connection, "type='signal',interface='org.freedesktop.Notifications',path='/org/freedesktop/Notifications'", nullptr);
    m_bus = std::move(bus);
    return true;
}

bool BusNotifier::show(const std::string& title, const std::string& body, const Actions& actions)
{
    if (m_bus && !m_bus->usable())
        drop();
    if (!m_bus && !connect())
        return false;
    m_bus->startAsking();
    if (!m_bus->serverThere() || !m_bus->notify(title, body, actions)) {
        if (!m_bus->usable())
            drop();
        return false;
    }
    return true;
}

bool BusNotifier::openAddress(const std::string& url)
{
    std::string argument;
    if (auto path = kit::fileURLPath(url)) {
        struct stat info;
        if (path->empty() || (*path)[0] != '/' || path->find('\0') != std::string::npos || ::stat(path->c_str(), &info) != 0) {
            kit::log("Nothing to open at " + url);
            return false;
        }
        argument = *path;
    } else if (kit::startsWithNoCase(url, "http://") || kit::startsWithNoCase(url, "https://")) {
        for (unsigned char c : url)
            if (c <= 0x20 || c == 0x7F) {
                kit::log("Not opened, not one address: " + url);
                return false;
            }
        argument = url;
    } else {
        kit::log("Not opened, neither a file nor a web address: " + url);
        return false;
    }
    std::vector<std::string> arguments { argument };
    std::string opener = findProgram("xdg-open");
    if (opener.empty()) {
        opener = findProgram("gio");
        arguments.insert(arguments.begin(), "open");
    }
    if (opener.empty()) {
        kit::log("No program opens " + url + ": neither xdg-open nor gio is installed");
        return false;
    }
    if (auto started = kit::ChildProcess::spawnDetached(opener, arguments); !started) {
        kit::log("Cannot open " + url + ": " + started.error().message);
        return false;
    }
    return true;
}

} // namespace serviceshell
