#pragma once
// The application delegate: holds the window and the tab bar, and finishes
// the launch by showing the tab bar. When the user asks to end the
// application while a transfer runs, it asks first ("A transfer is running.
// Stop it and exit?"), and ends only on "Exit". It brings back the stored
// list of transfers once launched, and marks them stopped at the end.
#include "kit/ui/AlertView.h"
#include "kit/ui/Application.h"
#include "kit/ui/TabBarController.h"
#include "kit/ui/Window.h"

#include <memory>

class DownloadedTorrents;

class HalvexAppDelegate : public kit::ApplicationDelegate,
                          public kit::AlertViewDelegate,
                          public std::enable_shared_from_this<HalvexAppDelegate> {
public:
    static constexpr const char* exitQuestion = "A transfer is running. Stop it and exit?";

    ~HalvexAppDelegate() override;

    void applicationDidFinishLaunching(kit::Application& application) override;
    kit::TerminateReply applicationShouldTerminate(kit::Application& application) override;
    void applicationWillTerminate(kit::Application& application) override;
    void alertViewClickedButtonAtIndex(kit::AlertView& alert, int index) override;

    // tabBarController is kit's: the feature folders reach it through kit.
    std::shared_ptr<kit::Window> window;
    std::shared_ptr<kit::TabBar> tabBar;

private:
    bool transferRunning() const;
    DownloadedTorrents* transferTab() const;

    std::weak_ptr<kit::AlertView> m_exitAlert;
};
