#include "transfers/TipsViewController.h"

#include "kit/Button.h"
#include "kit/Label.h"
#include "kit/TextView.h"

void TipsViewController::loadView()
{
    // The "Options" screen: what a transfer offers today, and a way back.
    auto root = kit::View::create(kit::Rect { 0, 0, 320, 460 });
    root->setBackgroundColor(kit::Color::groupTableViewBackground());
    auto title = kit::View::create<kit::Label>(kit::Rect { 20, 20, 280, 30 });
    title->setText("Options");
    title->setFont(kit::Font::boldSystemFont(22));
    title->setTextAlignment(kit::TextAlignment::Center);
    root->addSubview(title);
    auto tips = kit::View::create<kit::TextView>(kit::Rect { 20, 60, 280, 300 });
    tips->setText("Choose a .torrent file in the Files tab and pick Download; the Transfer tab then asks whether to "
                  "start it.\n\nStop ends the transfer, Pause holds it, Resume lets it go on.\n\nThe transfer goes on "
                  "while you use other applications; use Exit on the Welcome tab to end it.\n\n"
                  "Download and upload limits will come in a later version.");
    tips->setBackgroundColor(kit::Color::white());
    root->addSubview(tips);
    root->addSubview(kit::Button::create(kit::Rect { 110, 380, 100, 37 }, "Done", [this] { dismissAction(nullptr); }));
    setView(root);
}

void TipsViewController::dismissAction(void*)
{
    dismissModalViewControllerAnimated(true);
}
