#include "transfers/OptionsViewController.h"

#include "kit/ui/Application.h"
#include "kit/ui/Button.h"
#include "kit/ui/TabBarController.h"

void OptionsViewController::loadView()
{
    auto root = kit::View::create(kit::Rect { 0, 0, 320, 460 });
    root->setBackgroundColor(kit::Color::groupTableViewBackground());
    auto name = kit::View::create<kit::Label>(kit::Rect { 20, 20, 280, 24 });
    torrentNameLabel = name.get();
    name->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth);
    root->addSubview(name);
    float y = 60;
    auto field = [&](const char* caption, kit::TextField*& outlet) {
        auto label = kit::View::create<kit::Label>(kit::Rect { 20, y, 120, 31 });
        label->setText(caption);
        label->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth | kit::ViewAutoresizingFlexibleRightMargin);
        root->addSubview(label);
        auto f = kit::View::create<kit::TextField>(kit::Rect { 150, y, 150, 31 });
        f->setAutoresizingMask(kit::ViewAutoresizingFlexibleLeftMargin | kit::ViewAutoresizingFlexibleWidth);
        f->setBackgroundColor(kit::Color::white());
        f->setAccessibilityLabel(caption);
        outlet = f.get();
        root->addSubview(f);
        y += 45;
    };
    field("Port", portTextField);
    field("Upload limit", upLimitTextField);
    field("Download limit", downLimitTextField);
    auto cancelButton = kit::Button::create(kit::Rect { 20, 380, 120, 37 }, "Cancel", [this] { cancel(); });
    cancelButton->setAutoresizingMask(kit::ViewAutoresizingFlexibleTopMargin | kit::ViewAutoresizingFlexibleWidth | kit::ViewAutoresizingFlexibleRightMargin);
    root->addSubview(cancelButton);
    auto start = kit::Button::create(kit::Rect { 180, 380, 120, 37 }, "Start", [this] { startDownload(); });
    start->setAutoresizingMask(kit::ViewAutoresizingFlexibleTopMargin | kit::ViewAutoresizingFlexibleLeftMargin | kit::ViewAutoresizingFlexibleWidth);
    root->addSubview(start);
    setView(root);
}

void OptionsViewController::cancel()
{
    dismissModalViewControllerAnimated(true);
}

void OptionsViewController::startDownload()
{
    dismissModalViewControllerAnimated(true);
    if (auto* delegate = kit::Application::shared().delegate(); delegate && delegate->tabBarController)
        delegate->tabBarController->setSelectedIndex(transferTabIndex);
}
