#pragma once
// The options screen shown over the transfer tab: the transfer options
// (download and upload limits, stop when complete, how many transfers run
// at once), stored as they are
// entered, a word on when they apply, the tips, and a way back. Its one
// action closes it.
#include "kit/ui/Button.h"
#include "kit/ui/Label.h"
#include "kit/ui/TextField.h"
#include "kit/ui/ViewController.h"

#include <functional>

class TipsViewController : public kit::ViewController, public kit::TextFieldDelegate {
public:
    static constexpr const char* appliesText = "The limits apply at once, shared by every running transfer; "
                                               "stop when complete applies to the next start.";
    // Without the control channel a running client cannot be told.
    static constexpr const char* appliesLaterText = "Without the control channel the limits apply from the next start, "
                                                    "as does stop when complete.";
    // Whether running clients take new limits at once (the control channel is there).
    bool limitsApplyAtOnce { true };
    // A stored option changed: the owner of the transfers reads them again.
    std::function<void()> onOptionsChanged;
    const char* applies() const { return limitsApplyAtOnce ? appliesText : appliesLaterText; }

    std::string className() const override { return "TipsViewController"; }
    void loadView() override;
    void dismissAction(void* sender);

    void textFieldDidChange(kit::TextField& field) override;
    bool textFieldShouldReturn(kit::TextField& field) override;
    void toggleStopWhenComplete();
    void toggleDht();

    kit::TextField* downLimitTextField { nullptr };
    kit::TextField* upLimitTextField { nullptr };
    kit::TextField* atOnceTextField { nullptr };
    kit::Button* stopWhenCompleteButton { nullptr };
    kit::Button* dhtButton { nullptr };
    kit::Label* noteLabel { nullptr };

    // Below this height (a turned phone) the screen takes a low arrangement.
    static constexpr float compactHeight = 400;

private:
    void showStopWhenComplete();
    void layOut(kit::View& root);
    struct Layout {
        kit::View* title { nullptr };
        std::vector<kit::View*> labels, fields;
        kit::View *stop { nullptr }, *tips { nullptr }, *done { nullptr };
        kit::Label* note { nullptr };
        kit::View* dht { nullptr };
    };
    Layout m_layout; // the root's own views, not held
};
