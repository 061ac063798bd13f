#include "transfers/TransferService.h"

#include "kit/core/UserDefaults.h"
#include "kit/core/WeakBind.h"
#include "transfers/ControlClient.h"
#include "transfers/ServiceEndpoint.h"

std::shared_ptr<TransferService> TransferService::create()
{
    return create(std::make_shared<TransferList>());
}

std::shared_ptr<TransferService> TransferService::create(std::shared_ptr<TransferList> list)
{
    auto service = std::shared_ptr<TransferService>(new TransferService(std::move(list)));
    service->m_list->delegate = kit::weakAs<TransferListDelegate>(*service);
    service->m_list->setSeen(false);
    service->snap();
    return service;
}

TransferService::TransferService(std::shared_ptr<TransferList> list)
    : m_list(std::move(list))
{
}

TransferService::~TransferService() = default;

kit::ErrorOr<void> TransferService::serve(const std::string& path)
{
    auto endpoint = ServiceEndpoint::listen(*this, path);
    if (!endpoint)
        return endpoint.error();
    m_endpoint = std::move(endpoint.value());
    return {};
}

std::shared_ptr<TransferService::Watcher> TransferService::watch(Watcher watcher)
{
    auto held = std::make_shared<Watcher>(std::move(watcher));
    m_watchers.push_back(held);
    return held;
}

template <typename F> void TransferService::tellWatchers(F member)
{
    // A watcher may go while it is told: the list is walked over a copy.
    auto watchers = m_watchers;
    std::erase_if(m_watchers, [](auto& w) { return w.expired(); });
    for (auto& weak : watchers)
        if (auto w = weak.lock(); w && (*w).*member)
            ((*w).*member)();
}

Transfer* TransferService::transferWith(uint64_t id) const
{
    for (auto& t : m_list->transfers())
        if (t->id() == id)
            return t.get();
    return nullptr;
}

void TransferService::snap()
{
    std::vector<TransferSnapshot> snapshots;
    snapshots.reserve(m_list->transfers().size());
    for (auto& t : m_list->transfers()) {
        auto& s = snapshots.emplace_back(TransferSnapshot::of(*t));
        s.trackers = m_list->trackerLines(*t);
        s.peerSources = m_list->peerSources(*t);
        // Said while its client waits for peers; a stopped one is not asking.
        if (s.hasClient)
            s.trackerNote = m_list->trackerNote(*t);
    }
    auto* front = m_list->front();
    take(std::move(snapshots), front ? front->id() : 0, m_list->channelProblem());
}

void TransferService::ask(const std::string& path, const std::string& name, const TransferOptions& options, std::function<void(AskAnswer)> done)
{
    // How many may run at once is the stored option, as the view last stored it.
    kit::UserDefaults::standard().refresh();
    auto answer = m_list->ask(path, name, options);
    snap();
    if (done)
        done(std::move(answer));
}

void TransferService::bringToFront(uint64_t id)
{
    if (auto* t = transferWith(id))
        m_list->bringToFront(*t);
}

void TransferService::stopFront() { m_list->stopFront(); }

void TransferService::pauseFront() { m_list->pauseFront(); }

void TransferService::resumeFront(std::function<void(kit::ErrorOr<void>)> done)
{
    auto resumed = m_list->resumeFront();
    snap();
    if (done)
        done(std::move(resumed));
}

void TransferService::remove(uint64_t id, std::function<void(kit::ErrorOr<void>)> done)
{
    auto* t = transferWith(id);
    auto removed = t ? m_list->remove(*t) : kit::ErrorOr<void>(kit::Error { "This transfer is no longer in the list." });
    snap();
    if (done)
        done(std::move(removed));
}

void TransferService::chooseFiles(uint64_t id, std::set<int> files)
{
    if (auto* t = transferWith(id)) {
        t->chooseFiles(std::move(files));
        m_list->store();
        transferListChanged();
    }
}

void TransferService::setChoices(uint64_t id, const TransferChoices& choices)
{
    auto* t = transferWith(id);
    if (!t)
        return;
    t->ownDownloadLimit = choices.ownDownloadLimit;
    t->ownUploadLimit = choices.ownUploadLimit;
    // Kept with the transfer: its client hears the goal now if it can, and whenever it (re)connects.
    const bool newGoal = choices.seedHours != t->seedHours || choices.seedRatio != t->seedRatio;
    t->seedHours = choices.seedHours;
    t->seedRatio = choices.seedRatio;
    if (auto* channel = t->control(); newGoal && channel && channel->isConnected()) {
        if (choices.seedHours)
            channel->setSeedTime(*choices.seedHours);
        else if (choices.seedRatio)
            channel->setSeedRatio(*choices.seedRatio);
    }
    // The list sends limits on its next share; sooner is better for a person
    // watching. Stored at once: a restart keeps them.
    m_list->balanceLimits();
    m_list->store();
    transferListChanged();
}

void TransferService::setDetailsShown(uint64_t id, bool shown)
{
    if (auto* t = transferWith(id))
        t->setDetailsShown(shown);
}

void TransferService::setSeen(bool seen)
{
    m_localSeen = seen;
    m_list->setSeen(m_localSeen || m_remoteSeen);
}

void TransferService::setRemoteSeen(bool seen)
{
    m_remoteSeen = seen;
    m_list->setSeen(m_localSeen || m_remoteSeen);
}

void TransferService::optionsChanged()
{
    // A view of another process stored them: read the settings file again.
    kit::UserDefaults::standard().refresh();
    m_list->balanceLimits();
}

void TransferService::restore()
{
    m_list->restore();
    snap();
}

void TransferService::endAll() { m_list->endAll(); }

void TransferService::transferListChanged()
{
    snap();
    tellChanged();
    tellWatchers(&Watcher::changed);
}

void TransferService::transferListFrontOutput()
{
    snap();
    tellFrontOutput();
    tellWatchers(&Watcher::frontOutput);
}

void TransferService::transferListTicked()
{
    snap();
    tellTicked();
    tellWatchers(&Watcher::ticked);
}
