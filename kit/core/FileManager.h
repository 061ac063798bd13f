#pragma once
// File management on the real file system, synchronous, on the calling thread.
//
// directoryContentsAtPath lists one folder: every entry's name (hidden ones
// too, "." and ".." left out) in the order the file system gives them, no
// sorting. A folder that is absent or cannot be read lists as nothing.
//
// moveItemAtPath never replaces what is at the target: when the target exists
// (as a file, a folder or a link, even a dangling one) the move fails and both
// paths stay as they were. Between file systems it copies, then removes the
// source; a copy that fails half-way is removed again.
//
// removeItemAtPath removes a file, a link (not what it points to) or a folder
// with all its contents.
#include <string>
#include <vector>

namespace kit {

class FileManager {
public:
    static FileManager& defaultManager();

    std::vector<std::string> directoryContentsAtPath(const std::string& path) const;
    bool fileExistsAtPath(const std::string& path) const;
    bool isDirectoryAtPath(const std::string& path) const;
    bool moveItemAtPath(const std::string& from, const std::string& to) const;
    bool removeItemAtPath(const std::string& path) const;
};

// Keeps the names whose extension (see pathExtension) equals one of the given
// ones, letter case included; the order is kept.
std::vector<std::string> pathsMatchingExtensions(const std::vector<std::string>& names, const std::vector<std::string>& extensions);

} // namespace kit
