#include "dht/TorrentFile.h"

#include "torrent/Bencode.h"
#include "torrent/TorrentCheck.h"
#include "torrent/TorrentContents.h"

#include <optional>

namespace dht {

namespace {

std::string encoded(std::string_view text)
{
    return std::to_string(text.size()) + ":" + std::string(text);
}

// Why the client could not take the torrent the dictionary describes, beyond
// what the check of every .torrent looks at; nothing when it can.
std::optional<std::string> refusalForInfo(const torrent::Value& info)
{
    // The second version alone hashes files in trees, with no "pieces": the
    // client cannot check a byte of it. A hybrid has both and is taken.
    const auto* version = info.find("meta version");
    const auto* pieces = info.find("pieces");
    if (version && version->asInteger() == 2 && !(pieces && pieces->isString()))
        return "it is made for the second version of the BitTorrent protocol alone, which the transfer client does not speak";
    if (!pieces || !pieces->isString() || pieces->string.empty() || pieces->string.size() % 20 != 0)
        return "its metadata holds no piece hashes";
    const auto* name = info.find("name");
    if (!name || !name->isString() || !torrent::isSafeComponent(name->string))
        return "its name is not a safe file name";
    const auto* files = info.find("files");
    if (!files) {
        const auto* length = info.find("length");
        if (!length || !length->asInteger() || *length->asInteger() < 0)
            return "its metadata gives no file length";
        return std::nullopt;
    }
    if (!files->isList())
        return "its list of files is damaged";
    // Every path, not just the first few: the client refuses the whole
    // torrent for one unsafe path, and would do so only once started.
    std::optional<std::string> why;
    size_t count = 0;
    bool whole = torrent::forEachItem(files->raw, torrent::maxDepth, [&](const torrent::Value& file) {
        if (++count > torrent::maxFileCount) {
            why = "it lists more than " + std::to_string(torrent::maxFileCount) + " files";
            return false;
        }
        const auto* path = file.isDictionary() ? file.find("path") : nullptr;
        const auto* length = file.isDictionary() ? file.find("length") : nullptr;
        if (!path || !path->isList() || path->items.empty() || !length || !length->asInteger() || *length->asInteger() < 0) {
            why = "file " + std::to_string(count) + " of its list is damaged";
            return false;
        }
        for (const auto& component : path->items) {
            if (!component.isString() || !torrent::isSafeComponent(component.string)) {
                why = "file " + std::to_string(count) + " has a path that is not safe (it would be written outside its folder)";
                return false;
            }
        }
        return true;
    });
    if (why)
        return why;
    if (!whole)
        return "its list of files is damaged";
    if (count == 0)
        return "it lists no files";
    return std::nullopt;
}

} // namespace

kit::ErrorOr<std::string> torrentFileFor(std::string_view info, const std::vector<std::string>& trackers)
{
    // Read one level deep: the list of files is walked an item at a time.
    auto parsed = torrent::parse(info, 1);
    if (!parsed.value || !parsed.value->isDictionary() || parsed.position != info.size())
        return kit::Error { "The metadata is not one bencoded dictionary." };
    if (auto why = refusalForInfo(*parsed.value))
        return kit::Error { "The torrent cannot be downloaded: " + *why + "." };

    std::vector<std::string_view> named;
    for (const auto& tracker : trackers) {
        if (!tracker.empty())
            named.push_back(tracker);
    }
    std::string bytes = "d8:announce" + encoded(named.empty() ? std::string_view(placeholderTracker) : named.front());
    if (named.size() > 1) {
        bytes += "13:announce-listl";
        for (auto tracker : named)
            bytes += "l" + encoded(tracker) + "e";
        bytes += "e";
    }
    bytes += "4:info";
    bytes += info;
    bytes += "e";
    if (auto why = torrent::refusalForDescription(bytes))
        return kit::Error { "The torrent cannot be downloaded: " + *why + "." };
    return bytes;
}

} // namespace dht
