#pragma once
#if __has_include("transfers/ControlServer.h")
#include "transfers/ControlDevice.h"
#include "transfers/ControlServer.h"
#define QUORVANE_HAS_CONTROL 1
#else
#define QUORVANE_HAS_CONTROL 0
class ControlClient;
class ControlServer;
#endif
