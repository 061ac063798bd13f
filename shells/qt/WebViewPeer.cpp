// A web view: the Qt web engine's page shown in a QWebEngineView filling the
// peer. The page belongs to the view's engine and outlives the peer.
#include "shells/qt/PeerRegistry.h"
#include "shells/qt/QtWebEngine.h"

#include "kit/WebView.h"

#include <QWebEngineView>

namespace qtshell {
namespace {

class WebViewPeer : public ViewPeer {
public:
    WebViewPeer(kit::WebView& model, Scene& scene)
        : ViewPeer(model, scene)
        , m_web(new QWebEngineView(this))
    {
        if (auto* engine = dynamic_cast<QtWebEngine*>(&model.engine()); engine && engine->page())
            m_web->setPage(engine->page());
    }

protected:
    void layoutContent() override { m_web->setGeometry(rect()); }

private:
    QWebEngineView* m_web;
};

QUORVANE_PEER(kit::WebView, WebViewPeer)

// Web views of the window are shown by the Qt web engine.
const bool engineInstalled = [] {
    kit::WebView::setEngineFactory([](kit::WebView& view) { return std::make_unique<QtWebEngine>(view); });
    return true;
}();

} // namespace
} // namespace qtshell
