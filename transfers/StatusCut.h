#pragma once
// The once-a-second cut of the transfer client's latest output chunk into
// three fields. Splitting is at every occurrence of the exact separator, empty
// pieces included; nothing is trimmed or converted.
//
//   P = text split at "["           exactly two pieces, else no cut
//   A = P[1] split at "]"           B = A[1] split at ","
//   C = B[1] split at "|"           D = B[2] split at "K/s | "
//   E = P[0] split at " "
//   prog = E[0], down = C[1], up = D[0]
//
// A text lacking the later separators gives no cut either, so the labels keep
// what they showed.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct StatusFields {
    std::string prog;
    std::string down;
    std::string up;
    bool operator==(const StatusFields&) const = default;
};

std::vector<std::string_view> splitEvery(std::string_view text, std::string_view separator);
std::optional<StatusFields> cutStatusLine(std::string_view text);
