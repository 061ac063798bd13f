#pragma once
// The application delegate: holds the window and the tab bar, and finishes
// the launch by showing the tab bar.
#include "kit/ui/Application.h"
#include "kit/ui/TabBarController.h"
#include "kit/ui/Window.h"

#include <memory>

class HalvexAppDelegate : public kit::ApplicationDelegate {
public:
    ~HalvexAppDelegate() override;

    void applicationDidFinishLaunching(kit::Application& application) override;

    // tabBarController is kit's: the feature folders reach it through kit.
    std::shared_ptr<kit::Window> window;
    std::shared_ptr<kit::TabBar> tabBar;
};
