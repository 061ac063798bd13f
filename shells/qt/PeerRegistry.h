#pragma once
// Which peer class shows which kit view class. Each peer's .cpp defines one
// function that adds its peers,
//
//     void addLabelPeers() { PeerRegistry::add<kit::Label, LabelPeer>(); }
//
// and addStandardPeers() below calls every such function from one list, the
// first time the registry is used; nothing relies on static constructors.
//
// A view says which kit class it is shown as (View::kind(): its own class or
// the nearest kit class it derives from), and the registry keeps one peer
// class per kind; views of a kind without a peer class, and plain views, get
// the plain ViewPeer (background and subviews).
#include "shells/qt/ViewPeer.h"

#include <type_traits>

namespace qtshell {

class PeerRegistry {
public:
    using Factory = ViewPeer* (*)(kit::View&, Scene&);

    template<typename ViewClass, typename PeerClass>
    static void add()
    {
        static_assert(std::is_base_of_v<kit::View, ViewClass>);
        static_assert(std::is_base_of_v<ViewPeer, PeerClass>);
        // A view of this kind is a ViewClass: only that class and those
        // derived from it answer its kind, and the class says it itself.
        static_assert(std::is_same_v<decltype(&ViewClass::kind), kit::ViewKind (ViewClass::*)() const>,
            "a class with peers of its own answers kind() itself");
        add(ViewClass::staticKind,
            [](kit::View& v, Scene& s) -> ViewPeer* { return new PeerClass(static_cast<ViewClass&>(v), s); });
    }

    // A later factory for the same kind replaces the earlier one.
    static void add(kit::ViewKind kind, Factory factory);
    // The peer for a view (never null; the caller owns it through Qt's tree).
    static ViewPeer* create(kit::View& view, Scene& scene);
    // The factory for views of this kind; null: the plain peer.
    static Factory find(kit::ViewKind kind);
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
