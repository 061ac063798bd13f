#pragma once
// Small file helpers over the file system, with times as seconds since
// 1 January 1970 (UTC) on the wall clock, which is what file dates are.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kit {

// The wall clock now.
double wallClockNow();

// The modification time of the file itself (a final symbolic link is not
// followed); none when there is no such file.
std::optional<double> fileModificationTime(const std::string& path);
bool setFileModificationTime(const std::string& path, double secondsSince1970);

// Replaces the whole file (through a temporary file beside it, so a reader
// never sees half a file). False on failure.
bool writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::optional<std::vector<uint8_t>> readWholeFile(const std::string& path);

// The user's document folder (the device layout's "Documents" under home).
std::string documentFolder();

} // namespace kit
