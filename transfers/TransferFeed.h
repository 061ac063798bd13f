#pragma once
// The transfers as a view sees them: snapshots of each (TransferSnapshot),
// the one in front, and what a person may ask of them. The owner of the
// transfers answers: in this process (TransferService) or in the service's
// over its socket (ServiceLink). A view never reaches a transfer itself.
//
// Answers may come later than the question (over the socket they do): each
// asking call takes a completion, run once on the main loop.
#include "kit/core/ErrorOr.h"
#include "transfers/TransferOptions.h"
#include "transfers/TransferSnapshot.h"

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class TransferListDelegate;

class TransferFeed {
public:
    virtual ~TransferFeed() = default;

    // Told when the list or the front one changed, the front one showed new
    // output, or the one-second tick went over every transfer.
    std::weak_ptr<TransferListDelegate> delegate;

    const std::vector<TransferSnapshot>& transfers() const { return m_transfers; }
    const TransferSnapshot* front() const { return find(m_front); }
    const TransferSnapshot* find(uint64_t id) const;
    // Why the clients' control channel is not there; empty while it is.
    const std::string& channelProblem() const { return m_channelProblem; }

    virtual void ask(const std::string& path, const std::string& name, const TransferOptions& options, std::function<void(AskAnswer)> done) = 0;
    virtual void bringToFront(uint64_t id) = 0;
    virtual void stopFront() = 0;
    virtual void pauseFront() = 0;
    virtual void resumeFront(std::function<void(kit::ErrorOr<void>)> done) = 0;
    virtual void remove(uint64_t id, std::function<void(kit::ErrorOr<void>)> done) = 0;
    virtual void chooseFiles(uint64_t id, std::set<int> files) = 0;
    virtual void setChoices(uint64_t id, const TransferChoices& choices) = 0;
    // Its details are on screen: its files and peers are asked for too.
    virtual void setDetailsShown(uint64_t id, bool shown) = 0;
    // Whether a person sees the transfers as they go (their tab in a shown window).
    virtual void setSeen(bool seen) = 0;
    // The stored options changed (limits, transfers at once): read them again.
    virtual void optionsChanged() = 0;
    // Brings back the stored list (once, when the application starts).
    virtual void restore() = 0;
    // The application ends: every client ends and the list says stopped.
    virtual void endAll() = 0;

    // How the application makes its feed; the default keeps the transfers in
    // this process. A shell sets another before the application starts.
    using Factory = std::function<std::shared_ptr<TransferFeed>()>;
    static void setFactory(Factory factory);
    static std::shared_ptr<TransferFeed> make();

protected:
    // The owner's news: a new list of snapshots, the front one.
    void take(std::vector<TransferSnapshot> transfers, uint64_t front, std::string channelProblem);
    void tellChanged();
    void tellFrontOutput();
    void tellTicked();

    std::vector<TransferSnapshot> m_transfers;
    uint64_t m_front { 0 };
    std::string m_channelProblem;
};
