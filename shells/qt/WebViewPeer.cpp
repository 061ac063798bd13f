// A web view: the Qt web engine's page shown in a QWebEngineView filling the
// peer. The page belongs to the view's engine and outlives the peer.
#include "shells/qt/PeerRegistry.h"

#include "kit/web/WebView.h"

#if QUORVANE_QT_WEBENGINE
#include "shells/qt/QtWebEngine.h"

#include <QPointer>
#include <QWebEngineView>
#endif

namespace qtshell {
namespace {

class WebViewPeer : public ViewPeer {
public:
    WebViewPeer(kit::WebView& model, Scene& scene)
        : ViewPeer(model, scene)
    {
#if QUORVANE_QT_WEBENGINE
        // The view is made with the page, after the window's first frame.
        if (auto* engine = dynamic_cast<QtWebEngine*>(&model.engine())) {
            engine->whenPageReady([self = QPointer<WebViewPeer>(this)](QWebEnginePage* page) {
                if (!self)
                    return;
                self->m_web = new QWebEngineView(self);
                self->m_web->setPage(page);
                self->m_web->setGeometry(self->rect());
                self->m_web->show();
            });
        }
#endif
    }

#if QUORVANE_QT_WEBENGINE
protected:
    void layoutContent() override
    {
        if (m_web)
            m_web->setGeometry(rect());
    }

private:
    QPointer<QWebEngineView> m_web;
#endif
};


} // namespace

void addWebViewPeers()
{
    PeerRegistry::add<kit::WebView, WebViewPeer>();
}

} // namespace qtshell
