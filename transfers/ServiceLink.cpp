#include "transfers/ServiceLink.h"

#include "kit/core/ChildProcess.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/core/Timer.h"
#include "kit/core/RunLoop.h"
#include "kit/net/LocalChannel.h"
#include "transfers/ControlClient.h"

using service::Message;

ServiceLink::ServiceLink(Private, std::string path)
    : m_path(std::move(path))
{
}

ServiceLink::~ServiceLink()
{
    if (m_connection) {
        m_connection->onMessage = nullptr;
        m_connection->onClosed = nullptr;
        m_connection->close();
    }
}

std::shared_ptr<ServiceLink> ServiceLink::connect(const std::string& path)
{
    if (path.empty())
        return nullptr;
    auto link = std::make_shared<ServiceLink>(Private(), path);
    if (!link->open())
        return nullptr;
    return link;
}

namespace {
bool launchService()
{
    std::vector<std::string> arguments;
    if (auto& layout = kit::DeviceLayout::current(); layout.hasRoot())
        arguments = { "--root", layout.root() };
    auto started = kit::ChildProcess::spawnDetached(kit::ChildProcess::helperPath("quorvane-service"), arguments);
    if (!started) {
        kit::log("The transfer service could not be started: " + started.error().message);
        return false;
    }
    kit::log("Started the transfer service (process " + std::to_string(started.value()) + ")");
    return true;
}
} // namespace

std::shared_ptr<ServiceLink> ServiceLink::start(const std::string& path)
{
    if (path.empty() || !launchService())
        return nullptr;
    // It answers once it has read the stored list: a moment.
    for (int tries = 0; tries < 60; ++tries) {
        if (auto link = connect(path))
            return link;
        kit::RunLoop::sleepBriefly(0.05);
    }
    kit::log("The transfer service was started but does not answer at " + path);
    return nullptr;
}

void ServiceLink::restartWhenLost()
{
    onLost = [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self)
            return;
        // Another view may have started one already; else this one does,
        // and tries again every few seconds while none answers.
        auto attempt = [weak](int round) {
            auto self = weak.lock();
            if (!self)
                return true;
            if (self->reconnect())
                return true;
            if (round % 5 == 0 && launchService())
                for (int tries = 0; tries < 60 && !self->reconnect(); ++tries)
                    kit::RunLoop::sleepBriefly(0.05);
            return self->isConnected();
        };
        if (attempt(0))
            return self->tellChanged();
        self->m_retry = kit::Timer::scheduled(1.0, true, [weak, attempt, round = 0](kit::Timer& timer) mutable {
            if (!attempt(++round))
                return;
            timer.invalidate();
            if (auto self = weak.lock())
                self->tellChanged();
        });
    };
}

bool ServiceLink::isConnected() const { return m_connection && m_connection->isOpen() && m_welcomed; }

bool ServiceLink::open()
{
    auto connection = kit::LocalConnection::connect(m_path);
    if (!connection)
        return false;
    m_connection = connection.value();
    m_welcomed = false;
    m_listed = false;
    std::weak_ptr<ServiceLink> weak = shared_from_this();
    m_connection->onMessage = [weak](kit::LocalConnection&, std::string text) {
        auto self = weak.lock();
        if (!self)
            return;
        if (auto message = service::decode(text))
            self->heard(*message);
    };
    m_connection->onClosed = [weak](kit::LocalConnection&, const std::string&) {
        if (auto self = weak.lock())
            self->lost();
    };
    m_connection->send(service::encode(Message("HELLO").set("version", (long long)service::protocolVersion)));
    // The first picture: greeted, and the whole list once.
    if (!m_connection->waitFor([this] { return m_welcomed && m_listed; }, answerWithinMs)) {
        m_connection->onClosed = nullptr;
        m_connection->close();
        m_connection.reset();
        return false;
    }
    // What this view had said before is said again to a new service.
    if (m_seen)
        send(Message("SEEN").set("seen", 1LL));
    for (auto id : m_detailsShown)
        send(Message("DETAILS").set("id", (long long)id).set("shown", 1LL));
    return true;
}

bool ServiceLink::reconnect()
{
    if (isConnected())
        return true;
    return open();
}

void ServiceLink::lost()
{
    kit::log("The transfer service went away");
    m_welcomed = false;
    m_connection.reset();
    // Questions without their answers are answered as not done.
    auto pending = std::move(m_pending);
    m_pending.clear();
    for (auto& [req, answered] : pending)
        answered(nullptr);
    if (onLost)
        onLost();
}

void ServiceLink::send(const Message& message)
{
    if (m_connection && m_connection->isOpen())
        m_connection->send(service::encode(message));
}

void ServiceLink::request(Message message, std::function<void(const Message*)> answered)
{
    if (!isConnected() || m_pending.size() >= service::maxPending) {
        // Answered on the run loop, as the service would have.
        kit::RunLoop::main().post([answered] { answered(nullptr); });
        return;
    }
    const long long req = m_nextRequest++;
    m_pending[req] = std::move(answered);
    send(message.set("req", req));
}

void ServiceLink::heard(const Message& m)
{
    if (m.kind == "WELCOME") {
        m_welcomed = true;
        m_servicePid = m.number("pid").value_or(0);
    } else if (m.kind == "LIST") {
        m_building.clear();
        m_expected = size_t(std::clamp(m.number("count").value_or(0), 0LL, 100000LL));
        m_event = m.text("event");
        m_buildingFront = uint64_t(std::max(0LL, m.number("front").value_or(0)));
        m_buildingProblem = m.text("problem");
        m_building.reserve(m_expected);
        if (m_expected == 0)
            finishList();
    } else if (m.kind == "T") {
        auto snapshot = service::snapshotOf(m);
        if (!snapshot || m_building.size() >= m_expected)
            return;
        if (auto it = m_files.find(snapshot->id); it != m_files.end() && snapshot->filesVersion && it->second.version == snapshot->filesVersion)
            snapshot->files = it->second.files;
        m_building.push_back(std::move(*snapshot));
        if (m_building.size() == m_expected)
            finishList();
    } else if (m.kind == "FILES") {
        const uint64_t id = uint64_t(std::max(0LL, m.number("id").value_or(0)));
        Files files;
        files.version = uint64_t(std::max(0LL, m.number("version").value_or(0)));
        files.count = size_t(std::clamp(m.number("count").value_or(0), 0LL, (long long)ControlClient::maxFiles));
        files.files = std::make_shared<std::vector<ClientFile>>();
        files.files->reserve(files.count);
        m_filesBuilding[id] = std::move(files);
        if (m_filesBuilding[id].count == 0)
            m_files[id] = std::move(m_filesBuilding[id]), m_filesBuilding.erase(id);
    } else if (m.kind == "F") {
        const uint64_t id = uint64_t(std::max(0LL, m.number("id").value_or(0)));
        auto it = m_filesBuilding.find(id);
        if (it == m_filesBuilding.end())
            return;
        if (!service::readFiles(m.text("files"), *it->second.files, it->second.count)) {
            m_filesBuilding.erase(it);
            return;
        }
        if (it->second.files->size() == it->second.count) {
            m_files[id] = std::move(it->second);
            m_filesBuilding.erase(id);
        }
    } else if (m.kind == "ANSWER" || m.kind == "RESULT") {
        auto it = m_pending.find(m.number("req").value_or(0));
        if (it == m_pending.end())
            return;
        auto answered = std::move(it->second);
        m_pending.erase(it);
        answered(&m);
    }
}

void ServiceLink::finishList()
{
    std::erase_if(m_files, [&](auto& f) { return std::none_of(m_building.begin(), m_building.end(), [&](auto& t) { return t.id == f.first; }); });
    take(std::move(m_building), m_buildingFront, std::move(m_buildingProblem));
    m_building.clear();
    const bool first = !m_listed;
    m_listed = true;
    if (first)
        return tellChanged();
    if (m_event == "output")
        tellFrontOutput();
    else if (m_event == "ticked")
        tellTicked();
    else
        tellChanged();
}

void ServiceLink::ask(const std::string& path, const std::string& name, const TransferOptions& options, std::function<void(AskAnswer)> done)
{
    request(service::optionsMessage(Message("ASK").set("path", path).set("name", name), options), [done](const Message* answer) {
        if (!done)
            return;
        if (!answer)
            return done({ Asked::Failed, "The transfer service did not answer." });
        auto asked = answer->number("asked").value_or(int(Asked::Failed));
        AskAnswer result { asked >= 0 && asked <= int(Asked::Failed) ? Asked(asked) : Asked::Failed, std::nullopt };
        if (answer->has("failure"))
            result.failure = answer->text("failure");
        done(std::move(result));
    });
}

namespace {
std::function<void(const Message*)> resultTo(std::function<void(kit::ErrorOr<void>)> done)
{
    return [done](const Message* answer) {
        if (!done)
            return;
        if (!answer)
            return done(kit::Error { "The transfer service did not answer." });
        if (answer->has("error"))
            return done(kit::Error { answer->text("error") });
        done({});
    };
}
} // namespace

void ServiceLink::bringToFront(uint64_t id) { send(Message("FRONT").set("id", (long long)id)); }

void ServiceLink::stopFront() { send(Message("STOP")); }

void ServiceLink::pauseFront() { send(Message("PAUSE")); }

void ServiceLink::resumeFront(std::function<void(kit::ErrorOr<void>)> done) { request(Message("RESUME"), resultTo(std::move(done))); }

void ServiceLink::remove(uint64_t id, std::function<void(kit::ErrorOr<void>)> done)
{
    request(Message("REMOVE").set("id", (long long)id), resultTo(std::move(done)));
}

void ServiceLink::chooseFiles(uint64_t id, std::set<int> files)
{
    send(Message("CHOOSE").set("id", (long long)id).set("files", service::numberList(files)));
}

void ServiceLink::setChoices(uint64_t id, const TransferChoices& choices)
{
    Message m("CHOICES");
    m.set("id", (long long)id).set("down", choices.ownDownloadLimit).set("up", choices.ownUploadLimit);
    if (choices.seedHours)
        m.set("seedHours", (long long)*choices.seedHours);
    else if (choices.seedRatio)
        m.set("seedRatio", service::realText(*choices.seedRatio));
    send(m);
}

void ServiceLink::setDetailsShown(uint64_t id, bool shown)
{
    if (shown)
        m_detailsShown.insert(id);
    else
        m_detailsShown.erase(id);
    send(Message("DETAILS").set("id", (long long)id).set("shown", shown ? 1LL : 0LL));
}

void ServiceLink::setSeen(bool seen)
{
    m_seen = seen;
    send(Message("SEEN").set("seen", seen ? 1LL : 0LL));
}

void ServiceLink::optionsChanged() { send(Message("OPTIONS")); }

void ServiceLink::quit() { send(Message("QUIT")); }
