#pragma once
// The owner of the transfers: the list (TransferList, with its clients, the
// control channel, the limits and the stored list) and what its views are
// told. It turns every change into snapshots and answers what a view asks.
// Hosted by the service program, or by a shell that found no service to talk
// to; its views reach it in this process (as a TransferFeed) or over the
// service's socket (ServiceEndpoint).
#include "transfers/TransferFeed.h"
#include "transfers/TransferList.h"

#include <functional>
#include <memory>
#include <vector>

class ServiceEndpoint;

class TransferService : public TransferFeed, public TransferListDelegate, public std::enable_shared_from_this<TransferService> {
public:
    static std::shared_ptr<TransferService> create();
    // Over a list already made (and restored); it becomes the list's delegate.
    static std::shared_ptr<TransferService> create(std::shared_ptr<TransferList> list);
    ~TransferService() override;

    // Also serves the views of other processes at `path` (ServiceEndpoint).
    kit::ErrorOr<void> serve(const std::string& path);
    ServiceEndpoint* endpoint() const { return m_endpoint.get(); }

    TransferList& list() { return *m_list; }
    const TransferList& list() const { return *m_list; }

    // Views other than this process's own: told of every change too.
    struct Watcher {
        std::function<void()> changed, frontOutput, ticked;
    };
    std::shared_ptr<Watcher> watch(Watcher watcher);

    void ask(const std::string& path, const std::string& name, const TransferOptions& options, std::function<void(AskAnswer)> done) override;
    void bringToFront(uint64_t id) override;
    void stopFront() override;
    void pauseFront() override;
    void resumeFront(std::function<void(kit::ErrorOr<void>)> done) override;
    void remove(uint64_t id, std::function<void(kit::ErrorOr<void>)> done) override;
    void chooseFiles(uint64_t id, std::set<int> files) override;
    void setChoices(uint64_t id, const TransferChoices& choices) override;
    void setDetailsShown(uint64_t id, bool shown) override;
    // This process's own view.
    void setSeen(bool seen) override;
    // Whether any view over the socket sees them.
    void setRemoteSeen(bool seen);
    void optionsChanged() override;
    void restore() override;
    void endAll() override;

    void transferListChanged() override;
    void transferListFrontOutput() override;
    void transferListTicked() override;

private:
    explicit TransferService(std::shared_ptr<TransferList> list);
    Transfer* transferWith(uint64_t id) const;
    // Snapshots anew from the list.
    void snap();
    template <typename F> void tellWatchers(F member);

    std::shared_ptr<TransferList> m_list;
    std::vector<std::weak_ptr<Watcher>> m_watchers;
    std::unique_ptr<ServiceEndpoint> m_endpoint;
    // Nobody sees them until a view says so.
    bool m_localSeen { false }, m_remoteSeen { false };
};
