#include "files/FileActions.h"

#include "kit/core/PathString.h"
#include "kit/net/URLEscape.h"

namespace files {

FileAction actionForButton(ListingMode mode, int index)
{
    switch (index) {
    case 0:
        return mode == ListingMode::Torrent ? FileAction::Download : FileAction::Play;
    case 1:
        return FileAction::Mail;
    case 2:
        return FileAction::Rename;
    case 3:
        return FileAction::Delete;
    default:
        return FileAction::Nothing;
    }
}

std::string mailURL(const std::string& subject, const std::string& message, const std::string& file)
{
    // The path is a query value: an "&" or "#" in a file name must not end it
    // early, or the mail program would be handed another (missing) file.
    return kit::stringByAddingPercentEscapes("mailto:?subject=" + subject + "&body=" + message + "&attachment=")
        + kit::escapeQueryValue(file);
}

std::string mailURL(ListingMode mode, const std::string& fullPath)
{
    if (mode == ListingMode::Torrent)
        return mailURL("Torrent File from Quorvane", "Here is the torrent file, sent from Quorvane", fullPath);
    return mailURL("File from Quorvane", "Here is the file, sent from Quorvane", fullPath);
}

namespace {
// The extension the rename gives the file: ".torrent" in torrent mode, else
// the file's own (none for a file without one).
std::string renameSuffix(ListingMode mode, const std::string& fullPath)
{
    if (mode == ListingMode::Torrent)
        return ".torrent";
    auto extension = kit::pathExtension(fullPath);
    return extension.empty() ? std::string() : "." + extension;
}
} // namespace

std::string renameTarget(ListingMode mode, const std::string& currentDir, const std::string& fullPath, const std::string& newFileName)
{
    if (newFileName.find_first_not_of(" \t\r\n") == std::string::npos)
        return {};
    auto suffix = renameSuffix(mode, fullPath);
    auto name = newFileName.ends_with(suffix) && newFileName.size() > suffix.size() ? newFileName : newFileName + suffix;
    return kit::stringByAppendingPathComponent(currentDir, name);
}

bool isAcceptableFileName(const std::string& newFileName)
{
    return newFileName.find('/') == std::string::npos && newFileName != "." && newFileName != "..";
}

std::string refusedNameMessage(const std::string& newFileName)
{
    if (newFileName == "." || newFileName == "..")
        return "\"" + newFileName + "\" names a folder, not a file. The file keeps its name.";
    return "A name cannot contain \"/\". The file keeps its name.";
}

std::string existingNameMessage(const std::string& targetName)
{
    return "A file named \"" + targetName + "\" already exists in this folder. The file keeps its name.";
}

std::string nameForRenaming(ListingMode mode, const std::string& file)
{
    auto suffix = renameSuffix(mode, file);
    if (!suffix.empty() && file.ends_with(suffix) && file.size() > suffix.size())
        return file.substr(0, file.size() - suffix.size());
    return file;
}

std::vector<std::pair<std::string, std::string>> downloadSettings(const std::string& fullPath, const std::string& file)
{
    return {
        { "DownloadTorrent", fullPath },
        { "DownloadTorrentName", file },
        { "DownloadTorrentBool", "Yes" },
    };
}

} // namespace files
