#include "app/Quorvane.h"

void Quorvane::applicationSuspend(kit::Application*)
{
}

void Quorvane::exit1()
{
    kit::Application::applicationSuspend(this);
}
