#include "files/FolderListing.h"

#include "kit/core/FileManager.h"
#include "kit/core/PathString.h"

namespace files {

bool isTorrentName(const std::string& name)
{
    return kit::pathExtension(name) == "torrent";
}

std::vector<std::string> filterEntries(std::vector<std::string> names, ListingMode mode)
{
    if (mode == ListingMode::AllEntries)
        return names;
    return kit::pathsMatchingExtensions(names, { "torrent" });
}

std::vector<std::string> rowsForEntries(const std::vector<std::string>& entries)
{
    std::vector<std::string> rows;
    rows.reserve(entries.size() + 1);
    rows.emplace_back(parentRowText);
    rows.insert(rows.end(), entries.begin(), entries.end());
    return rows;
}

Tap decideTap(const std::string& currentDir, int row, const std::string& entry)
{
    Tap tap;
    tap.file = entry;
    tap.fullPath = currentDir + "/" + entry;
    if (row == 0) {
        tap.kind = Tap::Kind::Parent;
        tap.nextDir = kit::stringByDeletingLastPathComponent(currentDir);
    } else if (kit::pathExtension(tap.fullPath).empty()) {
        tap.kind = Tap::Kind::Enter;
        tap.nextDir = tap.fullPath;
    } else {
        tap.kind = Tap::Kind::FileActions;
    }
    return tap;
}

} // namespace files
