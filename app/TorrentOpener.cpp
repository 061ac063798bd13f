#include "app/TorrentOpener.h"

#include "files/FileActions.h"
#include "files/TorrentFiles.h"
#include "kit/core/Ascii.h"
#include "kit/ui/AlertView.h"
#include "kit/ui/Application.h"
#include "kit/core/Log.h"
#include "kit/ui/TabBarController.h"
#include "kit/net/URLEscape.h"
#include "kit/core/UserDefaults.h"
#include "torrent/Magnet.h"
#include "torrent/TorrentCheck.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

namespace {

bool isAddress(std::string_view argument)
{
    // A scheme: letters, digits, + - . before a colon, and not a path's first folder.
    auto colon = argument.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    for (size_t i = 0; i < colon; ++i) {
        char c = argument[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

std::string TorrentOpener::absoluteArgument(std::string_view argument)
{
    if (kit::startsWithNoCase(argument, "file:")) {
        if (auto path = kit::fileURLPath(argument))
            return *path;
        return std::string(argument);
    }
    std::error_code ec;
    // "a:b.torrent" in the current folder is a file, not an address.
    if (argument.empty() || (isAddress(argument) && !std::filesystem::exists(std::filesystem::path(argument), ec)))
        return std::string(argument);
    auto absolute = std::filesystem::absolute(std::filesystem::path(argument), ec);
    return ec ? std::string(argument) : absolute.lexically_normal().string();
}

kit::ErrorOr<void> TorrentOpener::checkContents(std::string_view bytes)
{
    if (auto why = torrent::refusalForDescription(bytes))
        return kit::Error { *why };
    return {};
}

kit::ErrorOr<std::string> TorrentOpener::check(std::string_view argument, Refusal* refusal)
{
    auto refuse = [&](std::string title, std::string message) -> kit::ErrorOr<std::string> {
        if (refusal)
            *refusal = { title, message };
        return kit::Error { title + ": " + message };
    };
    if (argument.empty())
        return refuse("Cannot open the file", "No file was named.");
    if (kit::startsWithNoCase(argument, "magnet:")) {
        // Its metadata is fetched by the transfer, which then runs from the .torrent it makes.
        auto magnet = torrent::parseMagnet(argument);
        if (!magnet.magnet)
            return refuse("Cannot open the magnet link", magnet.problem);
        return magnet.magnet->link();
    }
    const std::string path = absoluteArgument(argument);
    if (isAddress(path))
        return refuse("Cannot open an address",
            "Quorvane opens .torrent files on this device, not addresses:\n " + path + "\nSave the .torrent file and open that.");

    // The one check every way in uses (the files tab's Download, a followed link).
    if (auto refused = torrent::refusalForFile(path))
        return refuse(refused->title, refused->message);
    return path;
}

bool TorrentOpener::open(std::string_view argument)
{
    Refusal refusal;
    auto checked = check(argument, &refusal);
    if (checked.isError()) {
        std::string why = checked.error().message; // the system log takes one line an event
        std::replace(why.begin(), why.end(), '\n', ' ');
        kit::log("Open refused: " + why);
        kit::AlertView::create(refusal.title, refusal.message, {}, "OK", {})->show();
        return false;
    }
    const std::string& path = checked.value();
    auto& defaults = kit::UserDefaults::standard();
    auto magnet = torrent::isMagnetLink(path) ? torrent::parseMagnet(path).magnet : std::nullopt;
    for (auto& [key, value] : files::downloadSettings(path, magnet ? magnet->displayName() : std::filesystem::path(path).filename().string()))
        defaults.setObject(value, key);
    auto* delegate = kit::Application::shared().delegate();
    if (!delegate || !delegate->tabBarController)
        return true;
    auto& tabs = *delegate->tabBarController;
    if (tabs.selectedIndex() == TorrentFiles::transferTabIndex) {
        // Already in view: selecting it again would not bring it into view,
        // and it reads the settings only when it comes into view.
        if (auto* transfer = tabs.selectedViewController(); transfer && transfer->isViewLoaded())
            transfer->viewDidAppear(false);
    } else {
        tabs.setSelectedIndex(TorrentFiles::transferTabIndex);
    }
    return true;
}
