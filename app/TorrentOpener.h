#pragma once
// A .torrent file opened from outside the application: from the desktop (a
// file manager or a browser hands the window its path), from a second start
// of the window, or from the headless shell's command line. Both shells call
// open() once the application has launched.
//
// The file is checked first: it must be a readable bencoded torrent
// description with its "info" dictionary and a tracker, since the transfer
// client starts only from such a file. A good file is handed to the transfer
// tab as the downloads tab hands one (the stored settings "DownloadTorrent",
// "DownloadTorrentName" and "DownloadTorrentBool" = "Yes") and that tab is
// selected, where the usual question asks whether to download it. Anything
// else (a magnet link, another address, a missing, unreadable or foreign
// file) gets an alert that says why, and nothing is stored.
#include "kit/core/ErrorOr.h"
#include "torrent/TorrentContents.h"

#include <string>
#include <string_view>

class TorrentOpener {
public:
    // Why an argument cannot be downloaded: the alert's title and message.
    struct Refusal {
        std::string title;
        std::string message;
    };

    // What the argument names, as a path another process can use: a path is
    // made absolute against this process's folder, a "file:" URL becomes its
    // path, and any other address stays as it is (open() refuses it).
    static std::string absoluteArgument(std::string_view argument);

    // The checked absolute path of the file, or why it cannot be downloaded.
    static kit::ErrorOr<std::string> check(std::string_view argument, Refusal* refusal = nullptr);

    // Whether bytes hold a bencoded torrent description with a tracker; the
    // reason when they do not.
    static kit::ErrorOr<void> checkContents(std::string_view bytes);

    // Checks, stores and selects the transfer tab, or shows the alert.
    // True when the file was handed to the transfer tab.
    static bool open(std::string_view argument);

    // Larger files are not torrent descriptions (which run to a few MiB for
    // the largest shares); refused before they are read whole.
    static constexpr long long maxFileSize = torrent::maxFileSize;
};
