#pragma once
// Everything a test needs from kit's process-wide state, installed and taken
// back by one object: a TestPlatform (no shell services until the test gives
// some; URLs handed to it are recorded), the main run loop on a fresh manual
// clock with the poll backend, the device laid under a temporary root that
// goes away afterwards, and fresh single instances (stored settings, the
// notification center's observations, running animations, the first
// responder). Make one per test, as the fixture's first member.
#include "kit/core/Clock.h"
#include "kit/core/Platform.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kit {

class RunLoop;

class TestPlatform : public Platform {
public:
    bool openURL(const std::string& url) override;
    void terminate(Application& app) override;
    bool showNotification(const std::string& title, const std::string& body,
        const std::vector<NotificationAction>& actions = {}) override;
    // Held while holdsFirstFrame is set, until showFirstFrame() runs it.
    void afterFirstFrame(std::function<void()> work) override;
    void showFirstFrame();

    struct Notification {
        std::string title;
        std::string body;
        std::vector<NotificationAction> actions;
    };
    // The desktop notifications asked for, in order.
    std::vector<Notification> notifications;

    std::vector<std::string> openedURLs;
    // What openURL answers.
    bool acceptsURLs { true };
    bool holdsFirstFrame { false };
    std::vector<std::function<void()>> firstFrameWork;
    int terminations { 0 };
};

class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    RunLoop& loop() const;
    ManualClock& clock() const { return *m_clock; }
    TestPlatform& platform() const { return *m_platform; }
    // The temporary device root.
    const std::string& root() const { return m_root; }
    // Fires, in order, what falls due within seconds.
    void advance(double seconds);

private:
    void freshState();

    std::shared_ptr<TestPlatform> m_platform;
    ManualClock* m_clock { nullptr };
    std::string m_root;
    std::string m_previousRoot;
};

} // namespace kit
