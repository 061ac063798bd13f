#include "transfers/TransferFeed.h"

#include "transfers/TransferList.h"
#include "transfers/TransferService.h"

namespace {
TransferFeed::Factory& factory()
{
    static TransferFeed::Factory made;
    return made;
}
} // namespace

const TransferSnapshot* TransferFeed::find(uint64_t id) const
{
    if (id == 0)
        return nullptr;
    for (auto& t : m_transfers)
        if (t.id == id)
            return &t;
    return nullptr;
}

void TransferFeed::setFactory(Factory made) { factory() = std::move(made); }

std::shared_ptr<TransferFeed> TransferFeed::make()
{
    if (factory())
        if (auto feed = factory()())
            return feed;
    return TransferService::create();
}

void TransferFeed::take(std::vector<TransferSnapshot> transfers, uint64_t front, std::string channelProblem)
{
    m_transfers = std::move(transfers);
    m_front = front;
    m_channelProblem = std::move(channelProblem);
}

void TransferFeed::tellChanged()
{
    if (auto d = delegate.lock())
        d->transferListChanged();
}

void TransferFeed::tellFrontOutput()
{
    if (auto d = delegate.lock())
        d->transferListFrontOutput();
}

void TransferFeed::tellTicked()
{
    if (auto d = delegate.lock())
        d->transferListTicked();
}
