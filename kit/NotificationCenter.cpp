#include "kit/NotificationCenter.h"

#include <algorithm>

namespace kit {

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

void NotificationCenter::addObserver(const void* observer, Handler handler, std::string name, const void* object)
{
    m_entries.push_back(std::make_shared<Entry>(Entry { observer, std::move(name), object, std::move(handler) }));
}

void NotificationCenter::removeObserver(const void* observer)
{
    std::erase_if(m_entries, [&](const std::shared_ptr<Entry>& e) {
        if (e->observer != observer)
            return false;
        e->removed = true;
        return true;
    });
}

void NotificationCenter::removeObserver(const void* observer, const std::string& name, const void* object)
{
    std::erase_if(m_entries, [&](const std::shared_ptr<Entry>& e) {
        if (e->observer != observer || (!name.empty() && e->name != name) || (object && e->object != object))
            return false;
        e->removed = true;
        return true;
    });
}

void NotificationCenter::postNotification(const Notification& n)
{
    std::vector<std::shared_ptr<Entry>> matching;
    for (auto& e : m_entries)
        if ((e->name.empty() || e->name == n.name) && (!e->object || e->object == n.object))
            matching.push_back(e);
    for (auto& e : matching) {
        if (e->removed)
            continue;
        auto handler = e->handler; // the observer may remove itself inside
        handler(n);
    }
}

void NotificationCenter::postNotification(std::string name, const void* object, std::map<std::string, std::any> userInfo)
{
    postNotification(Notification { std::move(name), object, std::move(userInfo) });
}

} // namespace kit
