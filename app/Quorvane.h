#pragma once
// The application class. It answers the platform's suspend request with
// nothing, so leaving the application does not end it and a transfer goes on.
#include "kit/ui/Application.h"

class Quorvane : public kit::Application {
public:
    void applicationSuspend(kit::Application* sender) override;
    // The platform's own suspend handling, which ends the application.
    void exit1();
};
