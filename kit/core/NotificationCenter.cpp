#include "kit/core/NotificationCenter.h"

#include <algorithm>

namespace kit {

struct Observation::Entry {
    std::string name;
    const void* object;
    NotificationCenter::Handler handler;
    bool removed { false };
};

// Shared by the center and its tokens' weak links: a token that outlives
// its center finds nothing to remove.
struct Observation::Registry {
    std::vector<std::shared_ptr<Entry>> entries;

    void remove(const std::shared_ptr<Entry>& entry)
    {
        entry->removed = true;
        entry->handler = nullptr; // whatever it captured goes now
        std::erase(entries, entry);
    }
};

Observation::Observation(std::weak_ptr<Registry> registry, std::shared_ptr<Entry> entry)
    : m_registry(std::move(registry))
    , m_entry(std::move(entry))
{
}

Observation::Observation(Observation&& other) noexcept
    : m_registry(std::move(other.m_registry))
    , m_entry(std::move(other.m_entry))
{
}

Observation& Observation::operator=(Observation&& other) noexcept
{
    if (this != &other) {
        reset();
        m_registry = std::move(other.m_registry);
        m_entry = std::move(other.m_entry);
    }
    return *this;
}

void Observation::reset()
{
    if (!m_entry)
        return;
    auto entry = std::move(m_entry);
    if (auto registry = m_registry.lock())
        registry->remove(entry);
    else
        entry->removed = true;
    m_registry.reset();
}

bool Observation::isActive() const
{
    return m_entry && !m_entry->removed;
}

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

NotificationCenter::NotificationCenter()
    : m_registry(std::make_shared<Observation::Registry>())
{
}

NotificationCenter::~NotificationCenter()
{
    removeAllObservers();
}

Observation NotificationCenter::addObserver(Handler handler, std::string name, const void* object)
{
    auto entry = std::make_shared<Observation::Entry>(Observation::Entry { std::move(name), object, std::move(handler) });
    m_registry->entries.push_back(entry);
    return Observation(m_registry, std::move(entry));
}

size_t NotificationCenter::observationCount() const
{
    return m_registry->entries.size();
}

void NotificationCenter::removeAllObservers()
{
    auto entries = std::move(m_registry->entries);
    m_registry->entries.clear();
    for (auto& e : entries) {
        e->removed = true;
        e->handler = nullptr;
    }
}

void NotificationCenter::postNotification(const Notification& n)
{
    std::vector<std::shared_ptr<Observation::Entry>> matching;
    for (auto& e : m_registry->entries)
        if ((e->name.empty() || e->name == n.name) && (!e->object || e->object == n.object))
            matching.push_back(e);
    for (auto& e : matching) {
        if (e->removed)
            continue;
        auto handler = e->handler; // the observer may end its observation inside
        handler(n);
    }
}

void NotificationCenter::postNotification(std::string name, const void* object, std::map<std::string, std::any> userInfo)
{
    postNotification(Notification { std::move(name), object, std::move(userInfo) });
}

} // namespace kit
