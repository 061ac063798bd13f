#include "app/Quorvane.h"

#include "kit/core/Log.h"
#include "kit/core/UserDefaults.h"

void Quorvane::applicationSuspend(kit::Application*)
{
    auto& defaults = kit::UserDefaults::standard();
    if (defaults.stringForKey(keepsRunningKey) == "Yes")
        return;
    kit::log(std::string(keepsRunningTitle) + ": " + keepsRunningBody);
    kit::Platform::current().showNotification(keepsRunningTitle, keepsRunningBody);
    defaults.setObject("Yes", keepsRunningKey);
}

void Quorvane::exit1()
{
    kit::Application::applicationSuspend(this);
}
