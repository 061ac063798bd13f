#pragma once
// The transfer options a person sets on the options screen, as stored
// settings, and the client command line they make:
//
//   "DownloadLimit", "UploadLimit"  whole KB/s, 1 or more; empty or absent: none
//   "StopWhenComplete"              "Yes": the client ends once the download is
//                                   complete instead of seeding; else "No"
//
// With none of them set the command line is the torrent's path alone.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kit {
class UserDefaults;
}

struct TransferOptions {
    static constexpr const char* downloadLimitKey = "DownloadLimit";
    static constexpr const char* uploadLimitKey = "UploadLimit";
    static constexpr const char* stopWhenCompleteKey = "StopWhenComplete";
    static constexpr long long largestLimit = 10'000'000; // KB/s: far beyond any link

    std::optional<long long> downloadLimit;
    std::optional<long long> uploadLimit;
    bool stopWhenComplete { false };

    // Reads the stored settings. A stored limit that is no valid number is
    // left out, and why goes into problems (when given).
    static TransferOptions stored(kit::UserDefaults& defaults, std::vector<std::string>* problems = nullptr);
    // The client's arguments: its own options first, then the path.
    std::vector<std::string> arguments(const std::string& torrentPath) const;
};

// Why a typed limit is not accepted ("" when it is; empty text is "none").
std::string limitProblem(std::string_view text);
// A whole number, the whole text (no blanks, no sign but '-'); nothing otherwise.
std::optional<long long> wholeNumber(std::string_view text);
// The limit in KB/s; nothing for empty or bad text.
std::optional<long long> parseLimit(std::string_view text);
