#pragma once
// Facts about the device: model, system name and version, the machine's
// hardware name (uname) and a unique identifier. The identifier is a random
// 40-hex-digit value made once per installation and kept in the device
// layout's support folder. Facts are read once; tests may replace them.
#include <optional>
#include <string>

namespace kit {

struct DeviceInfo {
    std::string model;
    std::string systemName;
    std::string systemVersion;
    std::string machine;
    std::optional<std::string> uniqueIdentifier;

    // The facts of this device (read on first use).
    static DeviceInfo& current();
    // Reads the facts afresh (after a change of the device layout's root).
    static void reload();
    // Installs facts of a test's choosing.
    static void set(DeviceInfo facts);
};

// The installation's identifier, made and stored under supportFolder when
// missing; none when it can be neither read nor stored.
std::optional<std::string> installationIdentifier(const std::string& supportFolder);

} // namespace kit
