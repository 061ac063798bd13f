#include "app/LinkOpener.h"

#include "app/TorrentOpener.h"
#include "kit/core/Ascii.h"
#include "kit/core/AtomicFile.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/net/URLEscape.h"
#include "kit/ui/AlertView.h"
#include "torrent/TorrentContents.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace {

constexpr const char* refusedTitle = "Cannot add the link";

void refuse(const std::string& title, const std::string& message)
{
    std::string line = message;
    std::replace(line.begin(), line.end(), '\n', ' ');
    kit::log("Link not added: " + line);
    kit::AlertView::create(title, message, {}, "OK", {})->show();
}

std::string fileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string();
}

// Where the fetched file goes: its own name, or the same name numbered; a
// file already there with the same bytes is the one to use.
std::optional<std::filesystem::path> placeFor(const std::string& name, const std::string& bytes)
{
    const std::filesystem::path folder = kit::DeviceLayout::current().transferWorkingFolder();
    const std::string stem = name.substr(0, name.size() - std::string_view(".torrent").size());
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    for (int n = 1; n < 100; ++n) {
        auto path = folder / (n == 1 ? name : stem + " (" + std::to_string(n) + ").torrent");
        if (!std::filesystem::exists(path, ec))
            return path;
        if (std::filesystem::is_regular_file(path, ec) && fileBytes(path) == bytes)
            return path;
    }
    return std::nullopt;
}

} // namespace

std::string LinkOpener::fileNameFor(std::string_view address)
{
    auto end = address.find_first_of("?#");
    auto path = address.substr(0, end);
    auto scheme = path.find("://");
    path = scheme == std::string_view::npos ? std::string_view() : path.substr(scheme + 3);
    auto slash = path.find('/');
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
    std::string name = kit::percentDecode(path.substr(path.rfind('/') + 1));
    if (name.size() > 8 && kit::startsWithNoCase(std::string_view(name).substr(name.size() - 8), ".torrent"))
        name.resize(name.size() - 8);
    if (name.size() > 120 || !torrent::isSafeComponent(name) || name.front() == '.')
        name.clear();
    return (name.empty() ? std::string("link") : name) + ".torrent";
}

void LinkOpener::open(std::string_view text, std::function<void(bool asked)> done)
{
    m_fetch.reset();
    const std::string link(kit::trimmed(text));
    if (kit::startsWithNoCase(link, "magnet:"))
        return done(TorrentOpener::open(link));
    if (!kit::startsWithNoCase(link, "http://") && !kit::startsWithNoCase(link, "https://")) {
        refuse(refusedTitle, link.empty() ? "No link was given." : "Only a magnet link, or the http or https address of a .torrent file, can be added.");
        return done(false);
    }
    kit::log("Fetching the .torrent file at " + link);
    m_fetch = kit::ResourceFetch::start(
        link,
        [this, link, done](std::optional<std::vector<uint8_t>> bytes) {
            const int status = m_fetch ? m_fetch->status() : 0;
            // The fetch is over: it may go now, and done may open another.
            auto over = std::move(m_fetch);
            if (!bytes) {
                refuse(refusedTitle, "The .torrent file could not be fetched from:\n " + link + "\n"
                        + (status >= 400 ? "The server answered with HTTP status " + std::to_string(status) + "."
                                         : "No answer came in time, or the file is larger than a .torrent file may be."));
                return done(false);
            }
            const std::string contents(bytes->begin(), bytes->end());
            if (auto checked = TorrentOpener::checkContents(contents); !checked) {
                refuse("Not a .torrent file", "What the address gives is not a .torrent file that can be downloaded:\n " + link + "\n" + checked.error().message);
                return done(false);
            }
            auto place = placeFor(fileNameFor(link), contents);
            auto written = place ? kit::writeFileAtomically(place->string(), bytes->data(), bytes->size())
                                 : kit::ErrorOr<void>(kit::Error { "too many files of that name" });
            if (!written) {
                refuse(refusedTitle, "The .torrent file cannot be kept in the downloads folder: " + written.error().message + ".");
                return done(false);
            }
            done(TorrentOpener::open(place->string()));
        },
        timeLimit, size_t(TorrentOpener::maxFileSize));
}
