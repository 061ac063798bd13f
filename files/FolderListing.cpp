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

Tap decideTap(const std::string& currentDir, int row, const std::string& entry, bool isFolder, const std::string& topFolder)
{
    Tap tap;
    tap.file = entry;
    tap.fullPath = kit::stringByAppendingPathComponent(currentDir, entry);
    if (row == 0) {
        tap.kind = Tap::Kind::Parent;
        tap.nextDir = currentDir == topFolder ? currentDir : kit::stringByDeletingLastPathComponent(currentDir);
    } else if (isFolder) {
        tap.kind = Tap::Kind::Enter;
        tap.nextDir = tap.fullPath;
    } else {
        tap.kind = Tap::Kind::FileActions;
    }
    return tap;
}

std::string shownName(const std::string& name)
{
    std::string shown;
    shown.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '\r' && i + 1 < name.size() && name[i + 1] == '\n')
            continue; // one mark for a "\r\n" pair
        if (c == '\n' || c == '\r')
            shown += lineBreakMark;
        else if (c == '\t')
            shown += ' ';
        else if (c < 0x20 || c == 0x7f)
            shown += "\uFFFD";
        else
            shown += char(c);
    }
    return shown;
}

std::string devicePathOf(const std::string& path, const std::string& deviceRoot)
{
    if (deviceRoot.empty() || deviceRoot == "/" || !path.starts_with(deviceRoot))
        return path;
    auto rest = path.substr(deviceRoot.size());
    if (rest.empty())
        return "/";
    if (rest.front() != '/')
        return path; // a sibling that only shares the root's name as a prefix
    return rest;
}

} // namespace files
