#pragma once
// Reads the transfer client's status line into numbers, beside the cut that
// fills the tab's three fields. A line reads, for instance,
//
//   / 1/0/2 [17/64/64] 1MB,0MB | 279,0K/s | 288,0K E:0,1 Connecting
//
// spinner, seeders/leechers connected/peers known, [pieces had/total/
// available], megabytes down,up | download,upload rate in KB/s | the
// client's second pair of kilobyte counts, E: tracker failures,successes,
// then an optional word ("Connecting", "Quitting"). On a pipe the client
// writes each line after a line feed and pads it with blanks.
#include <optional>
#include <string>
#include <string_view>

struct StatusLine {
    char spinner { ' ' };
    long long seeders { 0 };
    long long leechers { 0 };
    long long peers { 0 };
    long long piecesHave { 0 };
    long long piecesTotal { 0 };
    long long piecesAvailable { 0 };
    long long downloadedMB { 0 };
    long long uploadedMB { 0 };
    long long downRateKB { 0 };
    long long upRateKB { 0 };
    long long downCountKB { 0 };
    long long upCountKB { 0 };
    long long trackerFailures { 0 };
    long long trackerSuccesses { 0 };
    std::string note;

    bool complete() const { return piecesTotal > 0 && piecesHave == piecesTotal; }
    // Pieces had as a share of all, 0...1.
    double fraction() const { return piecesTotal > 0 ? double(piecesHave) / double(piecesTotal) : 0.0; }
    bool operator==(const StatusLine&) const = default;
};

// One line, without its line feed; trailing blanks are allowed. Nothing
// (no value) for anything that is not a whole status line, such as a line
// cut short at the end of a read.
std::optional<StatusLine> parseStatusLine(std::string_view line);
// The last whole status line of an output chunk, if any.
std::optional<StatusLine> lastStatusLine(std::string_view chunk);
