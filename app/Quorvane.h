#pragma once
// The application class. It answers the platform's suspend request with
// nothing, so leaving the application does not end it and a transfer goes
// on. The first time a person leaves (once per installation, remembered in
// the stored settings), a desktop notification says that Quorvane keeps
// running and how to come back.
#include "kit/ui/Application.h"

class Quorvane : public kit::Application {
public:
    static constexpr const char* keepsRunningKey = "KeepsRunningNoticeBool";
    static constexpr const char* keepsRunningTitle = "Quorvane keeps running";
    static constexpr const char* keepsRunningBody
        = "Transfers go on while its window is closed. Start Quorvane again to bring the window back; "
          "Exit on the Welcome tab ends it.";

    void applicationSuspend(kit::Application* sender) override;
    // The platform's own suspend handling, which ends the application.
    void exit1();
};
