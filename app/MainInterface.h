#pragma once
// What the handheld's main interface file held: the window, the tab bar
// controller with its four tabs, and the application delegate.
#include "kit/ui/Application.h"

// Tab order; the transfer tab must stay at index 3 (other tabs select it by index).
enum QuorvaneTab { WelcomeTab = 0, BrowserTab = 1, FilesTab = 2, TransferTab = 3 };

void loadMainInterface(kit::Application& application);
