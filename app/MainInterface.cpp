#include "app/LinkOpener.h"
#include "app/MainInterface.h"

#include "app/HalvexAppDelegate.h"
#include "files/TorrentFiles.h"
#include "kit/core/AtomicFile.h"
#include "transfers/TransferList.h"
#include "transfers/DownloadedTorrents.h"
#include "transfers/OptionsViewController.h"
#include "web/DownloadViewController.h"
#include "web/FirstViewController.h"

// The files tab and the options screen select the transfer tab by its index.
static_assert(TorrentFiles::transferTabIndex == TransferTab && OptionsViewController::transferTabIndex == TransferTab);

void loadMainInterface(kit::Application& application)
{
    auto delegate = std::make_shared<HalvexAppDelegate>();
    delegate->window = std::make_shared<kit::Window>();
    delegate->window->setBackgroundColor(kit::Color::black());
    delegate->window->makeKeyWindow();

    // Copies a killed instance was writing when it died, before anything reads
    // or writes those files again (both shells hold the instance lock by now).
    kit::removeLeftoverCopies(TransferStore::path());
    kit::removeLeftoverCopies(DownloadViewController::keptTorrentPath());

    auto files = std::make_shared<TorrentFiles>();
    auto transfer = std::make_shared<DownloadedTorrents>();
    transfer->openLink = [opener = std::make_shared<LinkOpener>()](const std::string& link, std::function<void(bool)> done) {
        opener->open(link, std::move(done));
    };
    // The files tab marks and guards what every running transfer writes.
    files->setArrivalSource([weakTransfer = std::weak_ptr<DownloadedTorrents>(transfer)]() -> std::vector<files::Arrival> {
        auto transfer = weakTransfer.lock();
        if (!transfer)
            return {};
        std::vector<files::Arrival> arriving;
        for (auto& summary : transfer->summaries())
            if (summary.running)
                arriving.push_back({ summary.torrentPath, summary.fraction });
        return arriving;
    });
    std::vector<std::shared_ptr<kit::ViewController>> tabs {
        std::make_shared<FirstViewController>(),
        std::make_shared<DownloadViewController>(),
        files,
        transfer,
    };
    const char* titles[] = { "Welcome", "Browse", "Files", "Transfer" };
    for (size_t i = 0; i < tabs.size(); ++i)
        tabs[i]->setTitle(titles[i]);

    delegate->tabBarController = std::make_shared<kit::TabBarController>();
    delegate->tabBarController->setViewControllers(tabs);
    delegate->tabBarController->view();
    delegate->tabBar = delegate->tabBarController->tabBar();
    delegate->window->makeKeyAndVisible();
    application.setDelegate(delegate);

    // Objects of an interface file are woken in order once all are made.
    for (auto& tab : tabs)
        tab->awakeFromNib();
}
