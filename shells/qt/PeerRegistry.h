#pragma once
// Which peer class shows which kit view class. Registration is static, one
// line in the peer's .cpp:
//
//     QUORVANE_PEER(kit::Label, LabelPeer)
//
// A view is shown by the peer registered for its own class or, failing
// that, for its nearest registered base class; views of no registered class
// get the plain ViewPeer (background and subviews).
#include "shells/qt/ViewPeer.h"

#include <typeindex>

namespace qtshell {

class PeerRegistry {
public:
    using Factory = ViewPeer* (*)(kit::View&, Scene&);
    using Matches = bool (*)(kit::View&);
    using Thrower = void (*)();
    using Catches = bool (*)(Thrower);

    struct Entry {
        std::type_index viewType;
        Matches matches;
        Factory factory;
        // Throwing a null ViewClass* and catching it as another entry's
        // ViewClass* tells whether one view class derives from the other,
        // without an instance of either.
        Thrower throwNull;
        Catches catchesAsOwn;
    };

    template<typename ViewClass, typename PeerClass>
    static void add()
    {
        static_assert(std::is_base_of_v<kit::View, ViewClass>);
        static_assert(std::is_base_of_v<ViewPeer, PeerClass>);
        add(Entry {
            typeid(ViewClass),
            [](kit::View& v) { return dynamic_cast<ViewClass*>(&v) != nullptr; },
            [](kit::View& v, Scene& s) -> ViewPeer* { return new PeerClass(static_cast<ViewClass&>(v), s); },
            [] { throw static_cast<ViewClass*>(nullptr); },
            [](Thrower t) {
                try {
                    t();
                } catch (ViewClass*) {
                    return true;
                } catch (...) {
                }
                return false;
            },
        });
    }

    static void add(Entry entry);
    // The peer for a view (never null; the caller owns it through Qt's tree).
    static ViewPeer* create(kit::View& view, Scene& scene);
    // The entry that shows views of this dynamic class; null: the plain peer.
    static const Entry* find(kit::View& view);
};

template<typename ViewClass, typename PeerClass>
struct PeerRegistration {
    PeerRegistration() { PeerRegistry::add<ViewClass, PeerClass>(); }
};

} // namespace qtshell

#define QUORVANE_PEER_CAT2(a, b) a##b
#define QUORVANE_PEER_CAT(a, b) QUORVANE_PEER_CAT2(a, b)
#define QUORVANE_PEER(ViewClass, PeerClass) \
    static const qtshell::PeerRegistration<ViewClass, PeerClass> QUORVANE_PEER_CAT(peerRegistration_, __LINE__) {};
