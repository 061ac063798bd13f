#include "transfers/OptionsViewController.h"

#include "kit/ui/Application.h"
#include "kit/ui/TabBarController.h"
#include "tests/support/LoopTest.h"

#include <gtest/gtest.h>

namespace {

using OptionsStart = testsupport::LoopTest;

// The options screen reaches the tab bar through kit's application delegate,
// whatever class the application's delegate is.
TEST_F(OptionsStart, SelectsTheTransferTabAndIsQuietWithoutATabBar)
{
    kit::Application app;
    auto delegate = std::make_shared<kit::ApplicationDelegate>();
    app.setDelegate(delegate);
    auto options = std::make_shared<OptionsViewController>();
    options->startDownload();

    delegate->tabBarController = std::make_shared<kit::TabBarController>();
    std::vector<std::shared_ptr<kit::ViewController>> tabs;
    for (int i = 0; i < 4; ++i)
        tabs.push_back(std::make_shared<kit::ViewController>());
    delegate->tabBarController->setViewControllers(tabs);
    options->startDownload();
    EXPECT_EQ(delegate->tabBarController->selectedIndex(), 3);
}

} // namespace
