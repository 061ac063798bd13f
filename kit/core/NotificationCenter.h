#pragma once
// Process-wide notifications, delivered synchronously on the posting thread
// (the main run loop). Observing hands back an Observation: a move-only token
// that unregisters when it is destroyed or reset, so an observer that holds
// its token as a member can never be called after it died. An observation
// ended while a notification is being delivered is not called.
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

class NotificationCenter;

class Observation {
public:
    Observation() = default;
    ~Observation() { reset(); }
    Observation(Observation&& other) noexcept;
    Observation& operator=(Observation&& other) noexcept;
    Observation(const Observation&) = delete;
    Observation& operator=(const Observation&) = delete;

    // Ends the observation now (nothing happens if it has ended).
    void reset();
    bool isActive() const;

private:
    friend class NotificationCenter;
    struct Entry;
    struct Registry;
    Observation(std::weak_ptr<Registry> registry, std::shared_ptr<Entry> entry);

    std::weak_ptr<Registry> m_registry;
    std::shared_ptr<Entry> m_entry;
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // An empty name or a null object matches every notification in that respect.
    [[nodiscard]] Observation addObserver(Handler handler, std::string name, const void* object);
    void postNotification(const Notification& notification);
    void postNotification(std::string name, const void* object, std::map<std::string, std::any> userInfo = {});

    size_t observationCount() const;
    // Ends every observation (a test's fresh start); the tokens become inert.
    void removeAllObservers();

private:
    std::shared_ptr<Observation::Registry> m_registry;
};

} // namespace kit
