#pragma once
// The device's control channel settings: the port is kept in the stored
// settings (key "ControlPort"), chosen free on first use; the password is a
// random secret in the file "control.secret" beside the settings file, mode
// 0600, made on first use and refused with a clear error when others can
// read it or it is not a regular file. The client reads at most 20
// characters of a password, so the secret is 20 letters and digits.
#include "kit/core/ErrorOr.h"

#include <cstdint>
#include <string>

struct ControlDevice {
    static constexpr const char* portKey = "ControlPort";
    static constexpr const char* secretName = "control.secret";
    static constexpr size_t passwordLength = 20;
    static constexpr size_t shortestPassword = 8;

    static kit::ErrorOr<std::string> password();
    // Forgets the password (it may have been heard): the next use makes a new one.
    static void renewPassword();
    static std::string secretFile();
    // 0 when none is stored (or the stored one is no port).
    static uint16_t storedPort();
    static void storePort(uint16_t port);
};
