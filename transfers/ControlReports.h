#pragma once
// What a transfer client reports on its control channel, and the strict
// reading of each report line (after its command word). A line whose numbers
// or fields are not what the client sends gives nothing: the caller ignores
// it. Rates and limits are in bytes per second, sizes and totals in bytes.
// Names (file names, peer ids, addresses, info texts) come back as printable
// text only: valid UTF-8 without control characters.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// CTSTATUS: the client's state, sent when asked (it sends none on a timer).
struct ClientStatus {
    int seeders { 0 }, trackerSeeders { 0 }, leechers { 0 }, trackerLeechers { 0 }, connecting { 0 };
    long long piecesHave { 0 }, piecesTotal { 0 }, piecesAvailable { 0 };
    long long downRate { 0 }, upRate { 0 };
    long long downTotal { 0 }, upTotal { 0 }; // this session
    long long downLimit { 0 }, upLimit { 0 }; // 0: none
    long long cacheKB { 0 };
    bool operator==(const ClientStatus&) const = default;
};

// CTBW: rates and limits, sent about once a second when one of them changed.
struct ClientBandwidth {
    long long downRate { 0 }, upRate { 0 }, downLimit { 0 }, upLimit { 0 };
    bool operator==(const ClientBandwidth&) const = default;
};

// CTFILE: one file of the torrent, numbered from 1 in the client's order.
// current is the group of chosen files now fetched; 0 means no list is set
// and every file is fetched (priority is then 0 for all). With a list,
// priority 0 is a file not chosen, 1 the first chosen group, and so on.
struct ClientFile {
    // Longer names are cut: a list of many files stays within a fixed bound.
    static constexpr size_t maxNameLength = 256;
    int number { 0 };
    int priority { 0 };
    int current { 0 };
    long long pieces { 0 }, have { 0 }, available { 0 }, size { 0 };
    std::string name; // without the torrent's top folder
    bool isFetched() const { return current == 0 || priority > 0; }
    bool operator==(const ClientFile&) const = default;
};

// CTPEER: one peer the client talks to.
struct ClientPeer {
    std::string id, address;
    // Four letters: the peer chokes us (C) or not (U), we are interested (i)
    // or not (n), we choke the peer (C) or not (U), the peer is interested (i) or not (n).
    std::string flags;
    long long downRate { 0 }, upRate { 0 }, downTotal { 0 }, upTotal { 0 }, pieces { 0 };

    bool chokesUs() const { return flags.size() == 4 && flags[0] == 'C'; }
    bool weAreInterested() const { return flags.size() == 4 && flags[1] == 'i'; }
    bool weChokeIt() const { return flags.size() == 4 && flags[2] == 'C'; }
    bool isInterested() const { return flags.size() == 4 && flags[3] == 'i'; }
    // Who is choking whom and who wants what, in words for the details screen.
    std::string relationText() const;
    bool operator==(const ClientPeer&) const = default;
};

// CTDETAIL with the CTFILE lines that follow it.
struct ClientDetail {
    long long bytes { 0 }, pieceLength { 0 }, now { 0 }, seedingSince { 0 }; // seedingSince 0 while downloading
    std::vector<ClientFile> files;
    bool operator==(const ClientDetail&) const = default;
};

// CTORRENT: who the client is.
struct ClientIdentity {
    std::string peerId;
    long long start { 0 }, now { 0 }; // Unix seconds
    std::string torrentPath;          // exactly as on the client's command line
};

// CTINFO: a warning the client printed.
struct ClientInfo {
    int severity { 0 };
    std::string text;
};

struct ControlReports {
    // Each reads the fields after the command word and its space.
    static std::optional<ClientIdentity> identity(std::string_view fields);
    static std::optional<ClientStatus> status(std::string_view fields);
    static std::optional<ClientBandwidth> bandwidth(std::string_view fields);
    static std::optional<ClientInfo> info(std::string_view fields);
    static std::optional<ClientDetail> detail(std::string_view fields); // without files
    static std::optional<ClientFile> file(std::string_view fields);
    static std::optional<ClientPeer> peer(std::string_view fields);

    // A count as the client writes it: decimal digits only, at most 18.
    static std::optional<long long> count(std::string_view text);
    // Bytes as printable text: invalid UTF-8 and control characters (line
    // breaks, bidirectional overrides) become "?"; at most maxLength bytes.
    static std::string printable(std::string_view bytes, size_t maxLength = 1024);
};
