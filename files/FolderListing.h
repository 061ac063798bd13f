#pragma once
// The rules of the downloads tab's list, as plain logic on names and paths:
// which entries a listing keeps, the rows it shows, and what a tap on a row
// does. No file system and no views here.
#include <string>
#include <vector>

namespace files {

// The "..." row that leads to the parent folder; always row 0.
inline constexpr const char* parentRowText = "...";

enum class ListingMode {
    Torrent,    // only .torrent entries; the first file action is Download
    AllEntries, // every entry; the first file action is Play
};

// A torrent file is known by its extension alone: the text after the last
// "." of its name is exactly "torrent".
bool isTorrentName(const std::string& name);

// The folder's entries as the list keeps them: in torrent mode only the
// torrent files, order kept; otherwise all of them.
std::vector<std::string> filterEntries(std::vector<std::string> names, ListingMode mode);

// The rows: "..." followed by the entries.
std::vector<std::string> rowsForEntries(const std::vector<std::string>& entries);

struct Tap {
    enum class Kind {
        Parent,      // row 0: list the parent folder
        Enter,       // a folder: list it
        FileActions, // anything else: offer the file actions
    };
    Kind kind;
    std::string file;      // the row's text
    std::string fullPath;  // the folder and the name, one "/" between them
    std::string nextDir;   // the folder to list (Parent and Enter)
};

// What a tap on row `row` (whose text is `entry`) does while `currentDir` is
// listed. Whether the entry is a folder is what the file system says of it
// (`isFolder`), never guessed from its name. "..." goes no higher than
// `topFolder`: the device's root, where it stays.
Tap decideTap(const std::string& currentDir, int row, const std::string& entry, bool isFolder,
    const std::string& topFolder = "/");

// A name as a row shows it: whole, with each line break (and other control
// character) as a visible mark, so that a name never spills onto lines that
// look like other entries.
std::string shownName(const std::string& name);
inline constexpr const char* lineBreakMark = "\u21B5"; // ↵

// The path as the device names it: `path` without the folder the device is
// laid under (`deviceRoot`, empty for none), so that the root reads "/".
std::string devicePathOf(const std::string& path, const std::string& deviceRoot);

} // namespace files
