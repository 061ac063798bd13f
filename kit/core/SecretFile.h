#pragma once
// A small secret kept in a file only its owner can read: made on first use
// from the system's random source, and refused afterwards when the file is
// no longer private (readable or writable by others, owned by someone else,
// not a regular file, a symbolic link) or no longer holds a usable secret.
// The secret is printable ASCII without blanks, so that it can travel on a
// line of text. Main thread; two processes making it at once agree on one.
#include "kit/core/ErrorOr.h"

#include <cstddef>
#include <string>

namespace kit {

// The secret in path, made (length letters and digits, mode 0600, its folder
// made as needed) when there is no such file. A secret found in the file may
// be longer or shorter than length, within minLength..maxLength.
ErrorOr<std::string> privateSecret(const std::string& path, size_t length, size_t minLength, size_t maxLength);

// length letters and digits from the system's random source (each about 5.95 bits).
ErrorOr<std::string> randomText(size_t length);

} // namespace kit
