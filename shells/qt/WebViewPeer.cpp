// A web view: the Qt web engine's page shown in its QWebEngineView filling
// the peer. The page and its view belong to the view's engine and outlive
// the peer: the peer adopts the view and hands it back when it goes.
#include "shells/qt/Modules.h"
#include "shells/qt/PeerRegistry.h"

#include "kit/web/WebView.h"

#include <QPointer>
#include <QWidget>

#include <memory>

namespace qtshell {
namespace {

class WebViewPeer : public ViewPeer {
public:
    WebViewPeer(kit::WebView& model, Scene& scene)
        : ViewPeer(model, scene)
    {
        // The view is made with the page, after the window's first frame.
        if (auto* engine = dynamic_cast<ShownWebEngine*>(&model.engine())) {
            m_engine = engine;
            m_model = model.weak_from_this();
            engine->whenViewReady([self = QPointer<WebViewPeer>(this)](QWidget* web) {
                if (!self)
                    return;
                // From the engine's holder, or from a peer of the same view
                // waiting for its deferred deletion.
                self->m_web = web;
                web->setParent(self);
                web->setGeometry(self->rect());
                web->show();
                self->nameWebView();
            });
        }
    }

    ~WebViewPeer() override
    {
        // The engine lives as long as its kit view. A peer is detached from
        // its view before it goes (a tab switched away), while the view and its
        // engine live on: the page's one view must go back to the engine then,
        // or it would go with the peer and the page be shown nowhere again.
        if (m_web && m_web->parentWidget() == this && m_engine && !m_model.expired())
            m_engine->parkView(m_web);
    }

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

    ShownWebEngine* m_engine { nullptr };
    std::weak_ptr<kit::View> m_model; // whether m_engine is still there
    QPointer<QWidget> m_web;
};

} // namespace

void addWebViewPeers()
{
    PeerRegistry::add<kit::WebView, WebViewPeer>();
}

} // namespace qtshell
