#include "transfers/ServiceEndpoint.h"

#include "kit/core/Log.h"
#include "kit/core/RuntimeFolder.h"
#include "kit/net/LocalChannel.h"

#include <algorithm>
#include <unistd.h>
#include <utility>

using service::Message;

struct ServiceEndpoint::View {
    std::shared_ptr<kit::LocalConnection> connection;
    bool greeted { false };
    bool seen { false };
    // The files each transfer's view was last sent, by the list's version.
    std::map<uint64_t, uint64_t> filesSent;
};

std::string ServiceEndpoint::socketPath()
{
    // Where another user took the usual folder first, the service and its
    // views meet elsewhere, or nowhere: said once, in the log of each.
    static bool said = false;
    if (auto folder = kit::runtimeFolder(); !folder.note.empty() && !std::exchange(said, true))
        kit::log("The transfer service's socket: " + folder.note);
    return kit::deviceSocketPath("quorvane-service");
}

kit::ErrorOr<std::unique_ptr<ServiceEndpoint>> ServiceEndpoint::listen(TransferService& service, const std::string& path)
{
    auto server = kit::LocalServer::listen(path);
    if (!server)
        return server.error();
    return std::unique_ptr<ServiceEndpoint>(new ServiceEndpoint(service, std::move(server.value())));
}

ServiceEndpoint::ServiceEndpoint(TransferService& service, std::unique_ptr<kit::LocalServer> server)
    : m_service(&service)
    , m_server(std::move(server))
{
    m_server->onConnection = [this](const std::shared_ptr<kit::LocalConnection>& connection) { connected(connection); };
    m_watch = m_service->watch({
        [this] { sendAll("changed"); },
        [this] { sendAll("output"); },
        [this] { sendAll("ticked"); },
    });
}

ServiceEndpoint::~ServiceEndpoint()
{
    for (auto& view : m_views) {
        view->connection->onClosed = nullptr;
        view->connection->onMessage = nullptr;
        view->connection->close();
    }
    m_service->setRemoteSeen(false);
}

size_t ServiceEndpoint::viewCount() const { return m_views.size(); }

void ServiceEndpoint::connected(const std::shared_ptr<kit::LocalConnection>& connection)
{
    auto view = std::make_unique<View>();
    view->connection = connection;
    auto* raw = view.get();
    connection->onMessage = [this, raw](kit::LocalConnection& c, std::string text) {
        auto message = service::decode(text);
        if (!message) {
            kit::log("The transfer service: a view sent what is no message; it is let go");
            return gone(c);
        }
        heard(*raw, *message);
    };
    connection->onClosed = [this](kit::LocalConnection& c, const std::string&) { gone(c); };
    m_views.push_back(std::move(view));
}

void ServiceEndpoint::gone(kit::LocalConnection& connection)
{
    auto it = std::find_if(m_views.begin(), m_views.end(), [&](auto& v) { return v->connection.get() == &connection; });
    if (it == m_views.end())
        return;
    // The view is let go after its callback has returned.
    auto held = std::move((*it)->connection);
    held->onMessage = nullptr;
    held->onClosed = nullptr;
    held->close();
    m_views.erase(it);
    seenChanged();
    if (onViewsChanged)
        onViewsChanged();
}

void ServiceEndpoint::seenChanged()
{
    m_service->setRemoteSeen(std::any_of(m_views.begin(), m_views.end(), [](auto& v) { return v->seen; }));
}

void ServiceEndpoint::sendAll(const char* event)
{
    for (size_t i = 0; i < m_views.size(); ++i)
        if (m_views[i]->greeted)
            sendList(*m_views[i], event);
}

void ServiceEndpoint::sendList(View& view, const char* event)
{
    auto& c = *view.connection;
    const auto& all = m_service->transfers();
    // A list of many files goes before the list that names its version.
    for (auto& t : all) {
        if (!t.files || view.filesSent[t.id] == t.filesVersion)
            continue;
        view.filesSent[t.id] = t.filesVersion;
        c.send(service::encode(Message("FILES").set("id", (long long)t.id).set("version", (long long)t.filesVersion).set("count", (long long)t.files->size())));
        for (size_t from = 0; from < t.files->size(); from += service::filesPerMessage)
            c.send(service::encode(Message("F").set("id", (long long)t.id).set("files", service::filesText(*t.files, from, service::filesPerMessage))));
    }
    std::erase_if(view.filesSent, [&](auto& sent) { return !m_service->find(sent.first); });
    c.send(service::encode(Message("LIST")
                               .set("event", event)
                               .set("count", (long long)all.size())
                               .set("front", (long long)(m_service->front() ? m_service->front()->id : 0))
                               .set("problem", m_service->channelProblem())));
    for (auto& t : all)
        c.send(service::encode(service::snapshotMessage(t)));
}

void ServiceEndpoint::heard(View& view, const Message& m)
{
    auto& c = *view.connection;
    if (!view.greeted) {
        if (m.kind != "HELLO" || m.number("version").value_or(0) < 1) {
            kit::log("The transfer service: a view did not say HELLO first; it is let go");
            return gone(c);
        }
        view.greeted = true;
        c.send(service::encode(Message("WELCOME").set("version", (long long)service::protocolVersion).set("pid", (long long)::getpid())));
        sendList(view, "changed");
        return;
    }
    const auto req = m.number("req");
    const uint64_t id = uint64_t(std::max(0LL, m.number("id").value_or(0)));
    // Answers go back on the connection asked, if it is still there.
    auto answerTo = [weak = std::weak_ptr<kit::LocalConnection>(view.connection), req](Message answer) {
        if (auto connection = weak.lock(); connection && req)
            connection->send(service::encode(answer.set("req", *req)));
    };
    auto result = [answerTo](kit::ErrorOr<void> done) {
        Message answer("RESULT");
        if (!done)
            answer.set("error", done.error().message);
        answerTo(std::move(answer));
    };
    if (m.kind == "ASK") {
        m_service->ask(m.text("path"), m.text("name"), service::optionsOf(m), [answerTo](AskAnswer answer) {
            Message message("ANSWER");
            message.set("asked", (long long)answer.asked);
            if (answer.failure)
                message.set("failure", *answer.failure);
            answerTo(std::move(message));
        });
    } else if (m.kind == "FRONT") {
        m_service->bringToFront(id);
    } else if (m.kind == "STOP") {
        m_service->stopFront();
    } else if (m.kind == "PAUSE") {
        m_service->pauseFront();
    } else if (m.kind == "RESUME") {
        m_service->resumeFront(result);
    } else if (m.kind == "REMOVE") {
        m_service->remove(id, result);
    } else if (m.kind == "CHOOSE") {
        if (auto files = service::numbersOf(m.text("files")))
            m_service->chooseFiles(id, std::move(*files));
    } else if (m.kind == "CHOICES") {
        TransferChoices choices;
        auto limit = [&](const char* key) -> std::optional<long long> {
            auto bytes = m.number(key);
            if (bytes && (*bytes <= 0 || *bytes > TransferOptions::largestLimit * 1024))
                return std::nullopt;
            return bytes;
        };
        choices.ownDownloadLimit = limit("down");
        choices.ownUploadLimit = limit("up");
        if (auto hours = m.number("seedHours"); hours && *hours >= 0 && *hours <= 10000)
            choices.seedHours = int(*hours);
        else if (m.has("seedRatio"))
            choices.seedRatio = service::realOf(m.text("seedRatio"));
        if (choices.seedRatio && !(*choices.seedRatio > 0 && *choices.seedRatio <= 1000))
            choices.seedRatio.reset();
        m_service->setChoices(id, choices);
    } else if (m.kind == "DETAILS") {
        m_service->setDetailsShown(id, m.flag("shown"));
    } else if (m.kind == "SEEN") {
        view.seen = m.flag("seen");
        seenChanged();
    } else if (m.kind == "OPTIONS") {
        m_service->optionsChanged();
    } else if (m.kind == "QUIT") {
        kit::log("The transfer service: a view asked it to end");
        m_service->endAll();
        if (onQuit)
            onQuit();
    }
    // Anything else is from a later version: passed over.
}
