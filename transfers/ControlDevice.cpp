#include "transfers/ControlDevice.h"

#include "kit/core/DeviceLayout.h"
#include "kit/core/SecretFile.h"
#include "kit/core/UserDefaults.h"
#include "transfers/ControlReports.h"

#include <filesystem>

std::string ControlDevice::secretFile()
{
    return (std::filesystem::path(kit::DeviceLayout::current().settingsFile()).parent_path() / secretName).string();
}

kit::ErrorOr<std::string> ControlDevice::password()
{
    return kit::privateSecret(secretFile(), passwordLength, shortestPassword, passwordLength);
}

void ControlDevice::renewPassword()
{
    std::error_code ignored;
    std::filesystem::remove(secretFile(), ignored);
}

uint16_t ControlDevice::storedPort()
{
    auto stored = kit::UserDefaults::standard().stringForKey(portKey);
    if (!stored)
        return 0;
    auto port = ControlReports::count(*stored);
    if (!port || *port < 1 || *port > 65535)
        return 0;
    return uint16_t(*port);
}

void ControlDevice::storePort(uint16_t port)
{
    if (port == 0)
        kit::UserDefaults::standard().removeObject(portKey);
    else
        kit::UserDefaults::standard().setObject(std::to_string(port), portKey);
}
