#pragma once
// The stored list of transfers: one file beside the settings, written
// atomically on every change. It records what a person asked for (running,
// paused, queued, stopped, complete), never what a crash did to a transfer:
// a client that dies with the application is still "running" here, and the
// next start finds it again or starts it anew. Besides: the client's process
// id, the options it was started with, how far it got, and whether the
// person was told that it completed.
//
// A list that cannot be read is kept aside (".corrupt") and the list starts
// empty, with a log line. Lists written by the earlier formats are read too.
#include "transfers/Transfer.h"

#include <optional>
#include <set>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

class TransferStore {
public:
    static constexpr const char* fileName = "transfers.list";
    static constexpr const char* fileHeader = "quorvane-transfers 4";
    static constexpr const char* thirdHeader = "quorvane-transfers 3";
    static constexpr const char* secondHeader = "quorvane-transfers 2";
    static constexpr const char* firstHeader = "quorvane-transfers 1";

    struct Record {
        // Made from what every form of the list holds; the choices are set after.
        Record(std::string path = {}, std::string name = {}, StoredState state = StoredState::Stopped, std::optional<pid_t> pid = {},
            TransferOptions options = {}, std::optional<std::pair<long long, long long>> pieces = {}, bool completionTold = false)
            : path(std::move(path))
            , name(std::move(name))
            , state(state)
            , pid(pid)
            , options(std::move(options))
            , pieces(pieces)
            , completionTold(completionTold)
        {
        }
        std::string path;
        std::string name;
        StoredState state { StoredState::Stopped };
        std::optional<pid_t> pid;
        TransferOptions options;
        std::optional<std::pair<long long, long long>> pieces; // had, in all
        bool completionTold { false };
        // Chosen in its details: the files fetched, its own limits (bytes/s),
        // its seeding goal; and the copy of the .torrent its client runs from.
        std::optional<std::set<int>> chosenFiles;
        std::optional<long long> ownDownloadLimit, ownUploadLimit;
        std::optional<int> seedHours;
        std::optional<double> seedRatio;
        std::string copy;
        // Its key at the tracker gateway (letters and digits).
        std::string token;
        // The magnet link it came from, while its metadata is still to fetch.
        std::string magnet;
    };

    // Beside the settings.
    static std::string path();
    static std::string encode(const std::vector<Record>& records);
    // Nothing when the text is no stored list.
    static std::optional<std::vector<Record>> decode(const std::string& text);

    // What is stored; none when nothing is (said in the log either way).
    static std::vector<Record> read();
    // Failures are logged: the list in memory is what counts until the next write.
    static void write(const std::vector<Record>& records);
};
