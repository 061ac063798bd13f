#include "app/HalvexAppDelegate.h"

#include "kit/core/WeakBind.h"
#include "transfers/DownloadedTorrents.h"

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

bool HalvexAppDelegate::transferRunning() const
{
    if (!tabBarController)
        return false;
    for (auto& tab : tabBarController->viewControllers())
        if (auto* transfers = dynamic_cast<DownloadedTorrents*>(tab.get()); transfers && transfers->isTransferRunning())
            return true;
    return false;
}

kit::TerminateReply HalvexAppDelegate::applicationShouldTerminate(kit::Application&)
{
    if (!transferRunning())
        return kit::TerminateReply::Now;
    auto alert = kit::AlertView::create("Exit", exitQuestion, kit::weakAs<kit::AlertViewDelegate>(*this), "Cancel", { "Exit" });
    m_exitAlert = alert;
    alert->show();
    return kit::TerminateReply::Later;
}

void HalvexAppDelegate::alertViewClickedButtonAtIndex(kit::AlertView&, int index)
{
    kit::Application::shared().replyToApplicationShouldTerminate(index == 1);
}
