#pragma once
// Which entries of the downloads folder a running transfer is using: the
// files its .torrent names (read from the .torrent's own file list), the
// folders that hold them, and the .torrent itself. The files tab marks them
// with the transfer's percentage and refuses to rename or delete them, since
// a file renamed or deleted under the client is lost or written again.
//
// The application says which transfers run (an Arrival each); this reads
// each .torrent file once, when its transfer starts, and answers for paths.
#include <map>
#include <memory>
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
    // in `folder` (the client's working folder). A transfer's .torrent is
    // read once, when it shows up among the running ones; after that only
    // its fraction is taken. False when nothing changed since the last call.
    bool update(const std::vector<Arrival>& arrivals, const std::string& folder);
    // Whether the entry at `path` is in use, and how.
    std::optional<ArrivalMark> markFor(const std::string& path) const;
    // The same for each entry of one folder, the folder resolved once.
    std::vector<std::optional<ArrivalMark>> marksFor(const std::string& folder, const std::vector<std::string>& names) const;
    bool empty() const { return m_running.empty(); }

private:
    // What one transfer writes, by folder: the names in each folder (files
    // and the folders between), sorted. A million paths of one torrent are
    // held once as their last components, never as whole paths.
    struct Index {
        std::string base;                                         // the folder the client writes in
        std::string torrentFile;                                  // comparable path of the .torrent
        std::map<std::string, std::vector<std::string>> written;  // by comparable folder
    };
    struct Running {
        std::shared_ptr<const Index> index;
        double fraction { 0 };
    };
    static std::shared_ptr<const Index> indexOf(const std::string& torrentPath, const std::string& base);
    // The mark of `name` in the comparable folder `folder` (with "/" after it, but for "/").
    std::optional<ArrivalMark> markIn(const std::string& folder, const std::string& name) const;

    std::vector<Running> m_running;
    std::map<std::string, std::shared_ptr<const Index>> m_indexes; // by .torrent path, of the running ones
};

// Normalised absolute form of a path, symbolic links in its folders resolved,
// so that two spellings of one place compare equal.
std::string comparablePath(const std::string& path);

// The text beside a marked row: "arriving 42 %" for what is written,
// "transferring 42 %" for the .torrent itself, and "complete, shared" for
// both once every piece is there and the client only shares it.
std::string markText(const ArrivalMark& mark);
// The alert for a refused rename or delete of `name`.
inline constexpr const char* inUseRenameTitle = "Cannot Rename";
inline constexpr const char* inUseDeleteTitle = "Cannot Delete";
std::string inUseMessage(const std::string& name, const ArrivalMark& mark);

} // namespace files
