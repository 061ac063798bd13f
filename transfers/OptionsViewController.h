#pragma once
// Options for one transfer: port and rate limits. Nothing reads the fields
// yet; the transfer's command line carries no options.
#include "kit/ui/Label.h"
#include "kit/ui/TextField.h"
#include "kit/ui/ViewController.h"

class OptionsViewController : public kit::ViewController {
public:
    // The transfer tab's place in the tab bar, which keeps it fourth.
    static constexpr int transferTabIndex = 3;

    std::string className() const override { return "OptionsViewController"; }
    void loadView() override;
    void cancel();
    // Closes the screen and shows the transfer tab, where a transfer is started.
    void startDownload();

    kit::TextField* downLimitTextField { nullptr };
    kit::TextField* portTextField { nullptr };
    kit::Label* torrentNameLabel { nullptr };
    kit::TextField* upLimitTextField { nullptr };
};
