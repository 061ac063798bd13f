#include "swarm/TorrentTrackers.h"

#include "swarm/Sha1.h"
#include "swarm/TrackerWire.h"
#include "torrent/Bencode.h"

#include <set>

namespace swarm {

std::optional<TorrentTrackers> readTrackers(std::string_view torrentBytes)
{
    // The info dictionary's own values (a file list of any length) are read past, not expanded.
    auto parsed = torrent::parse(torrentBytes, 2);
    if (!parsed.value || !parsed.value->isDictionary())
        return std::nullopt;
    const auto& top = *parsed.value;
    const auto* info = top.find("info");
    if (!info || !info->isDictionary())
        return std::nullopt;
    TorrentTrackers out;
    auto hash = sha1(info->raw);
    out.infoHash.assign(reinterpret_cast<const char*>(hash.data()), hash.size());
    if (const auto* isPrivate = info->find("private"); isPrivate && isPrivate->asInteger())
        out.isPrivate = *isPrivate->asInteger() == 1;
    if (const auto* version = info->find("meta version"); version && version->asInteger() == 2)
        out.v2Only = !info->find("pieces");

    std::set<std::string> seen;
    size_t kept = 0;
    auto take = [&](std::string_view url, std::vector<std::string>& tier) {
        if (kept >= maxTrackers || !parseTrackerUrl(url) || !seen.insert(std::string(url)).second)
            return;
        tier.emplace_back(url);
        ++kept;
    };
    if (const auto* list = top.find("announce-list"); list && list->isList()) {
        for (const auto& tierValue : list->items) {
            if (tierValue.kind != torrent::Value::Kind::List)
                continue;
            std::vector<std::string> tier;
            torrent::forEachItem(tierValue.raw, 1, [&](const torrent::Value& url) {
                if (url.isString())
                    take(url.string, tier);
                return kept < maxTrackers;
            });
            if (!tier.empty())
                out.tiers.push_back(std::move(tier));
        }
    }
    if (out.tiers.empty()) {
        std::vector<std::string> tier;
        if (const auto* announce = top.find("announce"); announce && announce->isString())
            take(announce->string, tier);
        if (!tier.empty())
            out.tiers.push_back(std::move(tier));
    }
    return out;
}

} // namespace swarm
