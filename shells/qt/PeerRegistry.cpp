#include "shells/qt/PeerRegistry.h"

#include <map>
#include <vector>

namespace qtshell {

namespace {
struct Tables {
    std::vector<PeerRegistry::Entry> entries;
    // Resolved once per dynamic class: index into entries, or -1 (plain peer).
    std::map<std::type_index, int> resolved;
};

Tables& tables()
{
    static Tables t;
    return t;
}

// True when a's view class derives from b's (or is it).
bool derives(const PeerRegistry::Entry& a, const PeerRegistry::Entry& b)
{
    return b.catchesAsOwn(a.throwNull);
}
} // namespace

void PeerRegistry::add(Entry entry)
{
    auto& t = tables();
    for (auto& e : t.entries)
        if (e.viewType == entry.viewType) {
            e = entry; // the later registration wins
            t.resolved.clear();
            return;
        }
    t.entries.push_back(entry);
    t.resolved.clear();
}

const PeerRegistry::Entry* PeerRegistry::find(kit::View& view)
{
    auto& t = tables();
    const std::type_index type = typeid(view);
    auto cached = t.resolved.find(type);
    int best = -1;
    if (cached != t.resolved.end()) {
        best = cached->second;
    } else {
        for (size_t i = 0; i < t.entries.size(); ++i) {
            auto& e = t.entries[i];
            if (e.viewType == type) {
                best = int(i);
                break;
            }
            if (!e.matches(view))
                continue;
            if (best < 0 || derives(e, t.entries[size_t(best)]))
                best = int(i);
        }
        t.resolved.emplace(type, best);
    }
    return best < 0 ? nullptr : &t.entries[size_t(best)];
}

ViewPeer* PeerRegistry::create(kit::View& view, Scene& scene)
{
    if (auto* entry = find(view))
        return entry->factory(view, scene);
    return new ViewPeer(view, scene);
}

} // namespace qtshell
