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
    if (auto* transfers = transferTab())
        transfers->restoreTransfers();
}

DownloadedTorrents* HalvexAppDelegate::transferTab() const
{
    if (!tabBarController)
        return nullptr;
    for (auto& tab : tabBarController->viewControllers())
        if (auto* transfers = dynamic_cast<DownloadedTorrents*>(tab.get()))
            return transfers;
    return nullptr;
}

bool HalvexAppDelegate::transferRunning() const
{
    auto* transfers = transferTab();
    return transfers && transfers->isTransferRunning();
}

void HalvexAppDelegate::applicationWillTerminate(kit::Application&)
{
    if (auto* transfers = transferTab())
        transfers->endAllTransfers();
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
