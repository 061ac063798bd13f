#include "app/HalvexAppDelegate.h"

HalvexAppDelegate::~HalvexAppDelegate()
{
    tabBarController.reset();
    tabBar.reset();
    window.reset();
}

void HalvexAppDelegate::applicationDidFinishLaunching(kit::Application& application)
{
    application.setNetworkActivityIndicatorVisible(true);
    window->addSubview(tabBarController->viewPointer());
}
