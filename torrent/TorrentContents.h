#pragma once
// What a .torrent file says it writes: its top name and, for a torrent of
// several files, each file's path under the folder of that name. The transfer
// client writes them in its working folder (the downloads folder).
//
// A .torrent comes from anywhere: its names are untrusted. A name or path
// component that is empty, "." or "..", or holds "/" or a NUL byte would
// reach outside the folder or name nothing; such a file is left out, and a
// torrent whose top name is such a name writes nothing we can name at all.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torrent {

struct Contents {
    std::string name;  // the single file, or the folder holding the files
    bool multiFile { false };
    // Each file's path relative to the working folder ("name" alone for a
    // single file; "name/dir/file" for several), every component safe.
    std::vector<std::string> files;
};

// Whether a single name may be used as one component of a path.
bool isSafeComponent(std::string_view component);

// The contents named by a bencoded torrent description, or nothing when the
// bytes are no description with an "info" dictionary and a safe name, or
// list more than maxFileCount files.
std::optional<Contents> readContents(std::string_view bytes);

// Larger files are not torrent descriptions (which run to a few MiB for the
// largest shares); not read whole.
inline constexpr long long maxFileSize = 64ll * 1024 * 1024;

// The largest shares list some ten thousand files, and the rare archive a
// hundred thousand; a description listing more is refused wherever it comes
// in (see TorrentCheck.h): the client and the files tab would hold every name.
inline constexpr size_t maxFileCount = 200'000;

// How many files the "info" dictionary's list names (counted, not read), or
// nothing when the bytes are no description. Counting stops one past `stopAt`.
std::optional<size_t> countFiles(std::string_view bytes, size_t stopAt = maxFileCount);

// Reads the file at `path` (a regular file up to maxFileSize).
std::optional<Contents> readContentsOfFile(const std::string& path);

// The paths the transfer writes, made absolute under `folder`: the top entry
// first, then, for several files, each folder between (once) and each file.
std::vector<std::string> writtenPaths(const Contents& contents, const std::string& folder);

} // namespace torrent
