#pragma once
// The transfers as a view in another process than the service sees them:
// a TransferFeed over the service's socket (ServiceProtocol). It keeps the
// service's latest list and tells its delegate as the service tells it;
// what a person does goes to the service, whose answers come back later.
//
// When the service goes away (it was killed, or it ended), onLost is told
// once; the shell starts another and calls reconnect(), which says again
// what this view had said (seen, details shown).
#include "transfers/ServiceProtocol.h"
#include "transfers/TransferFeed.h"

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace kit {
class LocalConnection;
class Timer;
}

class ServiceLink : public TransferFeed, public std::enable_shared_from_this<ServiceLink> {
public:
    // How long a view waits for the service's first answer.
    static constexpr int answerWithinMs = 3000;

    // Connected and greeted, with the service's list; none when nothing
    // answers at `path` (or what answers is no service of this version).
    static std::shared_ptr<ServiceLink> connect(const std::string& path);
    // Starts this device's service (quorvane-service, detached) and connects
    // to it once it answers; none when it cannot be started or does not answer.
    static std::shared_ptr<ServiceLink> start(const std::string& path);
    // From now on a lost service is started again and joined (a view that
    // starts services itself); what the view had said is said again.
    void restartWhenLost();
    ~ServiceLink() override;

    bool isConnected() const;
    // The service's process id, as it said.
    long long servicePid() const { return m_servicePid; }
    std::function<void()> onLost;
    bool reconnect();
    // Asks the service to stop every transfer and end (Exit).
    void quit();

    void ask(const std::string& path, const std::string& name, const TransferOptions& options, std::function<void(AskAnswer)> done) override;
    void bringToFront(uint64_t id) override;
    void stopFront() override;
    void pauseFront() override;
    void resumeFront(std::function<void(kit::ErrorOr<void>)> done) override;
    void remove(uint64_t id, std::function<void(kit::ErrorOr<void>)> done) override;
    void chooseFiles(uint64_t id, std::set<int> files) override;
    void setChoices(uint64_t id, const TransferChoices& choices) override;
    void setDetailsShown(uint64_t id, bool shown) override;
    void setSeen(bool seen) override;
    void optionsChanged() override;
    // The service brought its list back when it started.
    void restore() override { }
    // The application's end: Exit in a window that starts services asks the
    // service to stop every transfer and end; a view that only joined one
    // (a script) leaves the transfers to it.
    void endAll() override
    {
        if (endsServiceOnEnd)
            quit();
    }
    bool endsServiceOnEnd { false };

    struct Private {
        explicit Private() = default;
    };
    ServiceLink(Private, std::string path);

private:
    bool open();
    void heard(const service::Message& message);
    // The whole list has come: it is what the view shows now.
    void finishList();
    void send(const service::Message& message);
    // Sends a question; `answered` gets the answer, or none when the service went first.
    void request(service::Message message, std::function<void(const service::Message*)> answered);
    void lost();

    std::string m_path;
    std::shared_ptr<kit::LocalConnection> m_connection;
    bool m_welcomed { false };
    bool m_listed { false };
    long long m_servicePid { 0 };
    long long m_nextRequest { 1 };
    std::map<long long, std::function<void(const service::Message*)>> m_pending;
    // The list being received.
    std::vector<TransferSnapshot> m_building;
    size_t m_expected { 0 };
    std::string m_event;
    uint64_t m_buildingFront { 0 };
    std::string m_buildingProblem;
    // Each transfer's files, by the service's version of them.
    struct Files {
        uint64_t version { 0 };
        size_t count { 0 };
        std::shared_ptr<std::vector<ClientFile>> files;
    };
    std::map<uint64_t, Files> m_files;
    std::map<uint64_t, Files> m_filesBuilding;
    bool m_seen { false };
    std::set<uint64_t> m_detailsShown;
    std::shared_ptr<kit::Timer> m_retry;
};
