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
// empty, with a log line. Lists written by the first format are read too.
#include "transfers/Transfer.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

class TransferStore {
public:
    static constexpr const char* fileName = "transfers.list";
    static constexpr const char* fileHeader = "quorvane-transfers 2";
    static constexpr const char* firstHeader = "quorvane-transfers 1";

    struct Record {
        std::string path;
        std::string name;
        StoredState state { StoredState::Stopped };
        std::optional<pid_t> pid;
        TransferOptions options;
        std::optional<std::pair<long long, long long>> pieces; // had, in all
        bool completionTold { false };
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
