#pragma once
// The one check a .torrent file passes before the transfer client is given
// it, whichever way it comes in: opened from outside (the command line, the
// desktop, a second start), chosen in the files tab, or fetched behind a
// followed link. It must be a regular file (a link is followed: a link to a
// device or a pipe is refused, and nothing is opened that could block), no
// larger than maxFileSize, readable, a bencoded description with an "info"
// dictionary and a tracker, and list no more than maxFileCount files.
#include "torrent/TorrentContents.h"

#include <optional>
#include <string>
#include <string_view>

namespace torrent {

// Why a file cannot be handed to the client: an alert's title and message.
struct Refusal {
    std::string title;
    std::string message;
};

inline constexpr const char* tooManyFilesTitle = "Too many files";
inline constexpr const char* cannotDownloadTitle = "Cannot be downloaded";
inline constexpr std::string_view v2OnlyReason = "it is made for the second version of the BitTorrent protocol alone, which the "
                                                 "transfer client does not speak (a hybrid torrent, made for both versions, can be downloaded)";

// Why the bytes are no description the client can take ("the file is empty",
// "it lists more than 200000 files…"), or nothing when they are one.
std::optional<std::string> refusalForDescription(std::string_view bytes);

// Why the bytes of an "info" dictionary are for a torrent the client cannot
// take at all (the protocol's second version alone), or nothing.
std::optional<std::string> refusalForVersion(std::string_view infoBytes);

// The same, only for the file-count cap: for bytes kept whatever they hold.
std::optional<std::string> refusalForFileCount(std::string_view bytes);

// The description with an "announce" key naming the first tracker of its
// "announce-list", where it has none: the transfer client refuses one
// without, even when told where to announce. Nothing when it needs none.
std::optional<std::string> withAnnounceKey(std::string_view bytes);

// Why the file at the absolute `path` cannot be handed to the client, or
// nothing when it can.
std::optional<Refusal> refusalForFile(const std::string& path);

} // namespace torrent
