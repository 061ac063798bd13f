#include "shells/qt/PeerRegistry.h"

#include <cxxabi.h>
#include <map>
#include <vector>

namespace qtshell {

namespace {
struct Tables {
    bool standardAdded { false };
    std::vector<PeerRegistry::Entry> entries;
    // Resolved once per dynamic class: index into entries, or -1 (plain peer).
    std::map<std::type_index, int> resolved;
};

Tables& tables()
{
    static Tables t;
    return t;
}

// Every peer of the shell, added once before the registry is first used.
void addStandardPeers()
{
    auto& t = tables();
    if (t.standardAdded)
        return;
    t.standardAdded = true;
    addActivityIndicatorPeers();
    addBarPeers();
    addButtonPeers();
    addDrawingViewPeers();
    addLabelPeers();
    addProgressViewPeers();
    addTabBarPeers();
    addTableViewPeers();
    addTextFieldPeers();
    addTextViewPeers();
    addWebViewPeers();
}
} // namespace

bool PeerRegistry::derives(const std::type_info& derived, const std::type_info& base)
{
    if (derived == base)
        return true;
    // The bases of a class, as the type information GCC and Clang emit on
    // Linux (the Itanium C++ ABI) lists them: one base, or several.
    if (auto* single = dynamic_cast<const abi::__si_class_type_info*>(&derived))
        return derives(*single->__base_type, base);
    if (auto* several = dynamic_cast<const abi::__vmi_class_type_info*>(&derived)) {
        for (unsigned i = 0; i < several->__base_count; ++i)
            if (derives(*several->__base_info[i].__base_type, base))
                return true;
    }
    return false;
}

void PeerRegistry::add(Entry entry)
{
    addStandardPeers();
    auto& t = tables();
    t.resolved.clear();
    for (auto& e : t.entries)
        if (e.viewType == entry.viewType) {
            e = entry;
            return;
        }
    t.entries.push_back(entry);
}

const PeerRegistry::Entry* PeerRegistry::find(kit::View& view)
{
    addStandardPeers();
    auto& t = tables();
    const std::type_index type = typeid(view);
    auto cached = t.resolved.find(type);
    int best = -1;
    if (cached != t.resolved.end()) {
        best = cached->second;
    } else {
        for (size_t i = 0; i < t.entries.size(); ++i) {
            auto& e = t.entries[i];
            if (!e.matches(view))
                continue;
            if (best < 0 || derives(*e.viewInfo, *t.entries[size_t(best)].viewInfo))
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
