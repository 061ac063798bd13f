#pragma once
// What the service and its views say to each other over the service's
// socket (kit::LocalChannel carries whole messages). A message is a word
// naming it, then fields, each "key=value", separated by tabs, with
// backslash escapes for backslash, tab and line breaks in values. Unknown
// keys are passed over, so that a field added later does not break an older
// peer; the version in HELLO/WELCOME says what else changed.
//
// A view says HELLO and gets WELCOME, then the whole list (LIST, then one
// T per transfer) after every change and on every tick, and a transfer's
// files (FILES, then F messages of at most filesPerMessage files) whenever
// its client sent a new list. What a person does goes the other way; a
// question with a req= gets ANSWER or RESULT with the same req.
#include "transfers/ControlReports.h"
#include "transfers/TransferOptions.h"
#include "transfers/TransferSnapshot.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace service {

constexpr int protocolVersion = 1;
constexpr size_t filesPerMessage = 2000;
// A view may ask this many questions without their answers coming back.
constexpr size_t maxPending = 256;
// Trackers of one transfer read from a snapshot at most.
constexpr size_t maxTrackers = 256;

struct Message {
    std::string kind;
    std::map<std::string, std::string> fields;

    Message() = default;
    explicit Message(std::string k)
        : kind(std::move(k))
    {
    }
    Message& set(const std::string& key, std::string value)
    {
        fields[key] = std::move(value);
        return *this;
    }
    Message& set(const std::string& key, long long value) { return set(key, std::to_string(value)); }
    Message& set(const std::string& key, const std::optional<long long>& value);
    // The value, or an empty one; a reference into the message (split views of it stay valid).
    const std::string& text(const std::string& key) const;
    bool has(const std::string& key) const { return fields.count(key) > 0; }
    // A whole number, or none when absent or not one.
    std::optional<long long> number(const std::string& key) const;
    bool flag(const std::string& key) const { return text(key) == "1"; }
};

std::string encode(const Message& message);
std::optional<Message> decode(std::string_view text);

Message snapshotMessage(const TransferSnapshot& transfer);
// The snapshot without its files (they come in FILES messages).
std::optional<TransferSnapshot> snapshotOf(const Message& message);

Message optionsMessage(Message message, const TransferOptions& options);
TransferOptions optionsOf(const Message& message);

// Files: one per line inside an F message.
std::string filesText(const std::vector<ClientFile>& files, size_t from, size_t count);
// Appends the files read; false when a line is not a file.
bool readFiles(std::string_view text, std::vector<ClientFile>& files, size_t most);

// A finite real number, or none.
std::optional<double> realOf(std::string_view text);
std::string realText(double value);

std::string numberList(const std::set<int>& numbers);
std::optional<std::set<int>> numbersOf(std::string_view text);

} // namespace service
