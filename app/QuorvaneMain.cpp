#include "app/QuorvaneMain.h"

#include "app/MainInterface.h"
#include "app/Quorvane.h"

int quorvaneMain(int argc, char** argv)
{
    return kit::ApplicationMain(argc, argv, [] { return std::make_unique<Quorvane>(); }, loadMainInterface);
}
