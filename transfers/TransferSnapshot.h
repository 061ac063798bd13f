#pragma once
// What a view knows of one transfer: everything the Transfer tab, its list of
// transfers and the details screen show, reckoned by the owner of the
// transfers (the service) and read by both shells. A plain value, made anew
// on every change and never reaching back to the transfer: a view that holds
// one holds no client, no channel and no process.
#include "transfers/ControlReports.h"
#include "transfers/TransferProgress.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

enum class StoredState;
class Transfer;

// One tracker of the torrent as the service's gateway last heard it.
struct TrackerLine {
    std::string host;   // host and port only: a tracker's path may hold a personal key
    std::string answer; // "12 peers, 3 seeders, 9 leechers", "Timed out", the tracker's own words
    std::string next;   // when it is asked next ("in 2 min"); empty when not
};

// How many of the peers known for a transfer came from its trackers, the
// DHT and its magnet link's own addresses (a peer may come from several).
struct PeerSources {
    long long trackers { 0 }, dht { 0 }, magnet { 0 };
    bool operator==(const PeerSources&) const = default;
};

struct TransferSnapshot {
    uint64_t id { 0 };
    std::string path, name;
    // The cut's fields and the output shown, as the tab shows them.
    std::string status, prog, down, up, shown;
    bool hasText { false };
    // The progress in words.
    TransferState state { TransferState::Idle };
    std::string stateText, percentText, ratesText, spokenRatesText, timeLeftText;
    bool hasLatest { false };
    double fraction { 0 };
    int storedState { 0 }; // StoredState, as a number
    // What the buttons depend on.
    bool hasClient { false }, running { false }, paused { false }, queued { false }, quitting { false }, restartWhenGone { false };
    // The client this run started is running (not one taken over).
    bool ownClientRunning { false };
    // The channel's latest words (a tracker's, a warning); empty without.
    std::string note;
    // The torrent's trackers, as its gateway asks them for its client; and
    // what to say when none answers ("No tracker answers: Timed out").
    std::vector<TrackerLine> trackers;
    std::string trackerNote;
    // Known while the service looks for its peers (its client runs, or its metadata is fetched).
    std::optional<PeerSources> peerSources;
    // The choices made in its details.
    std::optional<long long> ownDownloadLimit, ownUploadLimit;
    std::optional<int> seedHours;
    std::optional<double> seedRatio;
    std::optional<std::set<int>> chosenFiles;
    // Its control channel, as last known.
    bool hasChannel { false }, channelConnected { false };
    std::optional<ClientStatus> clientStatus;
    // The torrent's files as its client last listed them (asked for while
    // its details are shown); none before. Shared: a list of many files is
    // not copied on every change.
    std::shared_ptr<const std::vector<ClientFile>> files;
    uint64_t filesVersion { 0 };
    std::vector<ClientPeer> peers;

    // A ended or stopped transfer's progress is not shown before its first status line.
    bool showsProgress() const { return state != TransferState::Idle && !(!hasLatest && state == TransferState::Ended); }
    // Fetched, as chosen in its details or as its client has it.
    bool isFetched(const ClientFile& file) const { return chosenFiles ? chosenFiles->count(file.number) > 0 : file.isFetched(); }

    // Of a transfer of the list; `files` is its client's own list, shared.
    static TransferSnapshot of(Transfer& transfer);
};

// What came of asking for a torrent.
enum class Asked { Started, Queued, AlreadyThere, Failed };
struct AskAnswer {
    Asked asked;
    std::optional<std::string> failure; // why, when Failed
};

// The choices a person makes in a transfer's details, sent to its owner whole.
struct TransferChoices {
    std::optional<long long> ownDownloadLimit, ownUploadLimit; // bytes/s; none: its share of the total
    std::optional<int> seedHours;
    std::optional<double> seedRatio;
};
