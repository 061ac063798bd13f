#pragma once
// Which peer class shows which kit view class. Each peer's .cpp defines one
// function that adds its peers,
//
//     void addLabelPeers() { PeerRegistry::add<kit::Label, LabelPeer>(); }
//
// and addStandardPeers() below calls every such function from one list, the
// first time the registry is used; nothing relies on static constructors.
//
// A view is shown by the peer registered for its own class or, failing
// that, for its nearest registered base class; views of no registered class
// get the plain ViewPeer (background and subviews).
#include "shells/qt/ViewPeer.h"

#include <type_traits>
#include <typeindex>
#include <typeinfo>

namespace qtshell {

class PeerRegistry {
public:
    using Factory = ViewPeer* (*)(kit::View&, Scene&);
    using Matches = bool (*)(kit::View&);

    struct Entry {
        std::type_index viewType;
        const std::type_info* viewInfo; // for the class relations
        Matches matches;
        Factory factory;
    };

    template<typename ViewClass, typename PeerClass>
    static void add()
    {
        static_assert(std::is_base_of_v<kit::View, ViewClass>);
        static_assert(std::is_base_of_v<ViewPeer, PeerClass>);
        add(Entry {
            typeid(ViewClass),
            &typeid(ViewClass),
            [](kit::View& v) { return dynamic_cast<ViewClass*>(&v) != nullptr; },
            [](kit::View& v, Scene& s) -> ViewPeer* { return new PeerClass(static_cast<ViewClass&>(v), s); },
        });
    }

    // A later entry for the same view class replaces the earlier one.
    static void add(Entry entry);
    // The peer for a view (never null; the caller owns it through Qt's tree).
    static ViewPeer* create(kit::View& view, Scene& scene);
    // The entry that shows views of this dynamic class; null: the plain peer.
    static const Entry* find(kit::View& view);
    // True when the class derived is base or one of its descendants.
    static bool derives(const std::type_info& derived, const std::type_info& base);
};

// The peers of this shell, one function per peer file.
void addActivityIndicatorPeers();
void addBarPeers();
void addButtonPeers();
void addDrawingViewPeers();
void addLabelPeers();
void addProgressViewPeers();
void addTabBarPeers();
void addTableViewPeers();
void addTextFieldPeers();
void addTextViewPeers();
void addWebViewPeers();

} // namespace qtshell
