#pragma once
// Which entries of the downloads folder a running transfer is using: the
// files its .torrent names (read from the .torrent's own file list), the
// folders that hold them, and the .torrent itself. The files tab marks them
// with the transfer's percentage and refuses to rename or delete them, since
// a file renamed or deleted under the client is lost or written again.
//
// The application says which transfers run (an Arrival each); this reads
// their .torrent files (again only when one changes) and answers for paths.
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace files {

// A running transfer: its .torrent file and how much of it has arrived (0 to 1).
struct Arrival {
    std::string torrentPath;
    double fraction { 0 };
};

struct ArrivalMark {
    enum class Role {
        Written,     // a file or folder the transfer writes
        Holds,       // a folder with such files somewhere below it
        TorrentFile, // the transfer's own .torrent
    };
    Role role { Role::Written };
    double fraction { 0 };
};

class ArrivalMap {
public:
    // Takes the transfers running now; the files they write are looked for
    // in `folder` (the client's working folder).
    void update(const std::vector<Arrival>& arrivals, const std::string& folder);
    // Whether the entry at `path` is in use, and how.
    std::optional<ArrivalMark> markFor(const std::string& path) const;
    // The same for each entry of one folder, the folder resolved once.
    std::vector<std::optional<ArrivalMark>> marksFor(const std::string& folder, const std::vector<std::string>& names) const;
    bool empty() const { return m_marks.empty(); }

private:
    struct Read {
        long long size { -1 };
        long long modified { 0 };
        std::vector<std::string> written; // relative to the folder
    };
    const Read& contentsOf(const std::string& torrentPath);

    std::map<std::string, ArrivalMark> m_marks; // by normalised absolute path
    std::map<std::string, Read> m_reads;        // by .torrent path
};

// Normalised absolute form of a path, symbolic links in its folders resolved,
// so that two spellings of one place compare equal.
std::string comparablePath(const std::string& path);

// The text beside a marked row: "arriving 42 %" for what is written (then
// "complete, shared" while the client still shares it), "transferring 42 %"
// for the .torrent itself.
std::string markText(const ArrivalMark& mark);
// The alert for a refused rename or delete of `name`.
inline constexpr const char* inUseRenameTitle = "Cannot Rename";
inline constexpr const char* inUseDeleteTitle = "Cannot Delete";
std::string inUseMessage(const std::string& name, const ArrivalMark& mark);

} // namespace files
