#include "shells/qt/PeerRegistry.h"

#include <map>

namespace qtshell {

namespace {
struct Tables {
    bool standardAdded { false };
    std::map<kit::ViewKind, PeerRegistry::Factory> factories;
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

void PeerRegistry::add(kit::ViewKind kind, Factory factory)
{
    addStandardPeers();
    tables().factories[kind] = factory;
}

PeerRegistry::Factory PeerRegistry::find(kit::ViewKind kind)
{
    addStandardPeers();
    auto& t = tables();
    auto it = t.factories.find(kind);
    return it == t.factories.end() ? nullptr : it->second;
}

ViewPeer* PeerRegistry::create(kit::View& view, Scene& scene)
{
    if (auto factory = find(view.kind()))
        return factory(view, scene);
    return new ViewPeer(view, scene);
}

} // namespace qtshell
