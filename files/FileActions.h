#pragma once
// The file actions of the downloads tab as plain logic: which action a button
// of the action sheet stands for, the mail address, the rename target and the
// settings written by Download.
#include "files/FolderListing.h"

#include <string>
#include <utility>
#include <vector>

namespace files {

// The action sheet's buttons by index: the first action (Download or Play), then these.
inline constexpr const char* downloadButtonTitle = "Download";
inline constexpr const char* playButtonTitle = "Play";
inline constexpr const char* mailButtonTitle = "eMail File";
inline constexpr const char* renameButtonTitle = "Rename";
inline constexpr const char* deleteButtonTitle = "Delete";
inline constexpr const char* cancelButtonTitle = "Cancel";

enum class FileAction { Download, Play, Mail, Rename, Delete, Nothing };

// Index 0 is Download in torrent mode and Play otherwise; 1 Mail; 2 Rename;
// 3 Delete; 4 (Cancel) and anything else does nothing.
FileAction actionForButton(ListingMode mode, int index);

// The "mailto:" address that hands the file at `fullPath` to the mail program,
// worded for the mode, escaped for use as a URL.
std::string mailURL(ListingMode mode, const std::string& fullPath);
// The general form: subject, body and attachment, escaped the same way.
std::string mailURL(const std::string& subject, const std::string& message, const std::string& file);

// Where a rename moves the file: the listed folder, with the typed name and
// ".torrent" after it in torrent mode, or the file's own extension otherwise.
// A name that already ends in that extension gets it once, and a file
// without one gets none. A name of blanks only names no file: the result is
// empty and nothing is renamed. (The file stays in its folder in both modes;
// sending it to the downloads folder from a subfolder lost it from view.)
std::string renameTarget(ListingMode mode, const std::string& currentDir, const std::string& fullPath, const std::string& newFileName);

// A typed name that would reach another folder ("/" in it, or "." and "..")
// is no file name: the rename refuses it, saying why.
bool isAcceptableFileName(const std::string& newFileName);
inline constexpr const char* refusedNameTitle = "Cannot Rename";
std::string refusedNameMessage(const std::string& newFileName);
// The rename onto a name some entry of the folder has already.
std::string existingNameMessage(const std::string& targetName);

// What the rename field starts with: the name without the extension the
// rename adds back.
std::string nameForRenaming(ListingMode mode, const std::string& file);

// The stored settings Download writes, in the order they are written.
std::vector<std::pair<std::string, std::string>> downloadSettings(const std::string& fullPath, const std::string& file);

} // namespace files
