#pragma once
// A link pasted on the transfer tab ("Add link"). A magnet link is opened as
// one handed over from outside (TorrentOpener): the tab asks whether to
// download it. The http or https address of a .torrent file is fetched (30 s
// at most, no larger than a .torrent may be), checked as any .torrent file
// is, kept in the downloads folder under the name its address gives it
// (never over another file), and then asked about as a file is. Whatever
// cannot be added gets an alert that says why.
#include "kit/net/ResourceFetch.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class LinkOpener {
public:
    static constexpr double timeLimit = 30;

    // done(true) once the tab asks about the link; done(false) after the
    // alert that says why it cannot be added. A fetch still running is
    // given up for the new link. done may come before open() returns.
    void open(std::string_view text, std::function<void(bool asked)> done);
    bool isFetching() const { return m_fetch != nullptr; }

    // "NAME.torrent" for an address: its last path component, decoded,
    // when that is a safe file name; "link.torrent" when not.
    static std::string fileNameFor(std::string_view address);

private:
    std::unique_ptr<kit::ResourceFetch> m_fetch;
};
