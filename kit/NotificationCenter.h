#pragma once
// Process-wide notifications, delivered synchronously on the posting thread
// (the main run loop). Observers are identified by an address they choose
// (usually `this`); an observer must remove itself before it dies.
// An observer removed while a notification is being delivered is not called.
#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kit {

struct Notification {
    std::string name;
    const void* object { nullptr };
    std::map<std::string, std::any> userInfo;
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    // An empty name or a null object matches every notification in that respect.
    void addObserver(const void* observer, Handler handler, std::string name, const void* object);
    void removeObserver(const void* observer);
    void removeObserver(const void* observer, const std::string& name, const void* object);
    void postNotification(const Notification& notification);
    void postNotification(std::string name, const void* object, std::map<std::string, std::any> userInfo = {});

    size_t observationCount() const { return m_entries.size(); }

private:
    struct Entry {
        const void* observer;
        std::string name;
        const void* object;
        Handler handler;
        bool removed { false };
    };
    std::vector<std::shared_ptr<Entry>> m_entries;
};

} // namespace kit
