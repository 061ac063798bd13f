#pragma once
// Writes bytes to a file so that a reader sees the old file or the whole new
// one, never a torn one: the bytes go to a temporary file in the same folder,
// which then replaces the file by rename. Missing folders are not created.
// On failure the old file stays as it was, no temporary file is left, and
// the error says which step failed and why.
#include "kit/core/ErrorOr.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kit {

// A kept file is an ordinary document (0666 less the umask) unless it is
// the user's private state (0600: no other user may read it).
enum class FileAccess { Document, Private };
ErrorOr<void> writeFileAtomically(const std::string& path, const uint8_t* bytes, size_t length, FileAccess access = FileAccess::Document);

// A process killed while writing leaves its temporary file beside `path`;
// the next start removes those of `path` (regular files only, never the file
// itself). Only one writer may run: call it while holding the instance lock.
// How many were removed.
size_t removeLeftoverCopies(const std::string& path);

} // namespace kit
