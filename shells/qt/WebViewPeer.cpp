// A web view: the Qt web engine's page shown in its QWebEngineView filling
// the peer. The page and its view belong to the view's engine and outlive
// the peer: the peer adopts the view and hands it back when it goes.
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
            engine->whenPageReady([self = QPointer<WebViewPeer>(this), engine](QWebEnginePage*) {
                if (!self || !engine->pageView())
                    return;
                // From the engine's holder, or from a peer of the same view
                // waiting for its deferred deletion.
                self->m_web = engine->pageView();
                self->m_web->setParent(self);
                self->m_web->setGeometry(self->rect());
                self->m_web->show();
                self->nameWebView();
            });
        }
#endif
    }

#if QUORVANE_QT_WEBENGINE
    ~WebViewPeer() override
    {
        if (m_web && m_web->parentWidget() == this)
            QtWebEngine::parkView(m_web);
    }
#endif

#if QUORVANE_QT_WEBENGINE
protected:
    void layoutContent() override
    {
        if (m_web)
            m_web->setGeometry(rect());
    }
    void contentChanged() override
    {
        nameWebView();
        ViewPeer::contentChanged();
    }

private:
    // The engine's view holds the page's document: it goes by the page's name too.
    void nameWebView()
    {
        if (m_web && view())
            m_web->setAccessibleName(QString::fromStdString(view()->accessibilityName()));
    }

    QPointer<QWebEngineView> m_web;
#endif
};


} // namespace

void addWebViewPeers()
{
    PeerRegistry::add<kit::WebView, WebViewPeer>();
}

} // namespace qtshell
