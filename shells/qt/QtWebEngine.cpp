#include "shells/qt/QtWebEngine.h"

#include "shells/qt/FirstFrame.h"

#include "kit/net/HostMapping.h"
#include "kit/web/WebView.h"
#include "kit/web/WebViewErrors.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QWebEngineHistory>
#include <QWebEngineHttpRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <unistd.h>

namespace qtshell {

namespace {
// The host under which the click script hands over a message link as written.
constexpr const char* writtenAddressHost = "quorvane-written";

// Runs in the engine's own world, before the page's handlers: a link whose
// scheme is the message scheme in another case goes to the decision as
// written (the engine would lowercase it on the way).
const char* writtenLinkScript = R"(
document.addEventListener('click', function (event) {
    var link = event.target && event.target.closest ? event.target.closest('a[href]') : null;
    if (!link)
        return;
    var written = link.getAttribute('href').trim();
    var scheme = /^([A-Za-z][A-Za-z0-9+.-]*):/.exec(written);
    if (!scheme || scheme[1] === 'adlark' || scheme[1].toLowerCase() !== 'adlark')
        return;
    event.preventDefault();
    window.location.href = 'adlark://quorvane-written/?' + encodeURIComponent(written);
}, true);
)";
} // namespace

class QtWebEngine::Page final : public QWebEnginePage {
public:
    Page(QtWebEngine& engine, QWebEngineProfile* profile)
        : QWebEnginePage(profile)
        , m_engine(engine)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        // A page given as text was chosen by the caller: nothing to ask.
        if (url.scheme() == QLatin1String("data") && m_engine.m_htmlRequest && isMainFrame)
            return true;
        if (type == NavigationTypeTyped && m_engine.m_loadApproved) {
            m_engine.m_loadApproved = false;
            return true;
        }
        // A message link as the page wrote it, brought by the engine's own click script.
        if (isMainFrame && url.scheme() == QLatin1String(kit::appMessageScheme) && url.host() == QLatin1String(writtenAddressHost)) {
            auto written = QUrl::fromPercentEncoding(url.query(QUrl::FullyEncoded).toUtf8()).toStdString();
            auto request = kit::URLRequest::requestWithURL(kit::URL::withString(written));
            if (request.url())
                m_engine.m_view.engineShouldStartLoad(request, kit::WebViewNavigationType::LinkClicked);
            return false;
        }
        auto request = kit::URLRequest::requestWithURL(kit::URL::withString(url.toString(QUrl::FullyEncoded).toStdString()));
        bool accepted = m_engine.m_view.engineShouldStartLoad(request, kindOf(type));
        // The page still reports a start and a stop for what was refused; the
        // view hears neither. (Other programs' addresses are never reported.)
        if (!accepted && kit::webEngineShowsScheme(url.scheme().toLower().toStdString()))
            m_engine.m_refused.push_back(url);
        return accepted;
    }

private:
    static kit::WebViewNavigationType kindOf(NavigationType type)
    {
        switch (type) {
        case NavigationTypeLinkClicked: return kit::WebViewNavigationType::LinkClicked;
        case NavigationTypeFormSubmitted: return kit::WebViewNavigationType::FormSubmitted;
        case NavigationTypeBackForward: return kit::WebViewNavigationType::BackForward;
        case NavigationTypeReload: return kit::WebViewNavigationType::Reload;
        case NavigationTypeRedirect: return kit::WebViewNavigationType::Other;
        default: return kit::WebViewNavigationType::Other;
        }
    }

    QtWebEngine& m_engine;
};

namespace {
bool g_verbose = true;

// The message scheme is never loaded; a picture or frame that names it gets nothing.
class RefusingSchemeHandler final : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob* job) override { job->fail(QWebEngineUrlRequestJob::RequestDenied); }
};

kit::NetErrorDomain domainOf(QWebEngineLoadingInfo::ErrorDomain domain)
{
    switch (domain) {
    case QWebEngineLoadingInfo::ConnectionErrorDomain: return kit::NetErrorDomain::Connection;
    case QWebEngineLoadingInfo::CertificateErrorDomain: return kit::NetErrorDomain::Certificate;
    case QWebEngineLoadingInfo::HttpErrorDomain: return kit::NetErrorDomain::Http;
    case QWebEngineLoadingInfo::FtpErrorDomain: return kit::NetErrorDomain::Ftp;
    case QWebEngineLoadingInfo::DnsErrorDomain: return kit::NetErrorDomain::Dns;
    default: return kit::NetErrorDomain::Internal;
    }
}

} // namespace

void QtWebEngine::setVerbose(bool verbose)
{
    g_verbose = verbose;
}

void QtWebEngine::registerSchemes()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    QWebEngineUrlScheme scheme(kit::appMessageScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    QWebEngineUrlScheme::registerScheme(scheme);
}

std::string QtWebEngine::chromiumFlags()
{
    std::string rules;
    for (auto& m : kit::hostMappings()) {
        if (!rules.empty())
            rules += ", ";
        rules += "MAP " + m.host + ":" + std::to_string(m.port) + " " + m.connectHost + ":" + std::to_string(m.connectPort);
    }
    // Names under .invalid never resolve: fail them at once rather than wait
    // on a resolver that may not answer for half a minute.
    rules += std::string(rules.empty() ? "" : ", ") + "MAP *.invalid ~NOTFOUND";
    std::string flags = "--host-resolver-rules=\"" + rules + "\"";
    auto add = [&](const char* flag) { flags += std::string(flags.empty() ? "" : " ") + flag; };
    const char* noSandbox = std::getenv("QTWEBENGINE_DISABLE_SANDBOX");
    const bool sandboxed = ::geteuid() != 0 && !(noSandbox && *noSandbox && std::string(noSandbox) != "0");
    if (!sandboxed)
        add("--no-sandbox");
    // Memory: both web views share one renderer; without a sandbox no zygote
    // processes are kept waiting; pages are drawn in software (see
    // prepareEnvironment), so no GPU process is started.
    add("--renderer-process-limit=1");
    add("--disable-gpu");
    add("--in-process-gpu");
    if (!sandboxed)
        add("--no-zygote");
    if (!g_verbose)
        add("--log-level=3"); // fatal errors only
    return flags;
}

namespace {
// The caller's own QTWEBENGINE_CHROMIUM_FLAGS, put back once the engine has
// read ours (programs Quorvane opens would otherwise take them over).
std::optional<std::string> g_callersChromiumFlags;
bool g_chromiumFlagsSet = false;
} // namespace

void QtWebEngine::prepareEnvironment()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    // Before the engine starts, which locks the schemes it knows.
    registerSchemes();
    // Quick's backend is read when its first window is made: still in time
    // for a caller that did not choose before the application object.
    if (!std::getenv("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // Without it the engine gives a screen reader on Linux an empty, nameless
    // document for every page; with it, the page's own objects (and only
    // while a screen reader listens). The caller's own choice stands.
    ::setenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1", 0);
    auto flags = chromiumFlags();
    if (flags.empty())
        return;
    const char* old = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (old)
        g_callersChromiumFlags = old;
    std::string value = old && *old ? std::string(old) + " " + flags : flags;
    ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", value.c_str(), 1);
    g_chromiumFlagsSet = true;
}

QtWebEngine::QtWebEngine(kit::WebView& view)
    : m_view(view)
{
    prepareEnvironment();
    // Starting the web engine takes longer than the whole window: not before its first frame.
    afterFirstFrame([this, alive = std::weak_ptr<bool>(m_alive)] {
        if (!alive.expired())
            createPage();
    });
}

void QtWebEngine::whenPageReady(std::function<void(QWebEnginePage*)> ready)
{
    if (m_page)
        ready(m_page);
    else
        m_pageReady.push_back(std::move(ready));
}

void QtWebEngine::whenViewReady(std::function<void(QWidget*)> ready)
{
    whenPageReady([this, ready = std::move(ready)](QWebEnginePage*) {
        if (auto* view = pageView())
            ready(view);
    });
}

void QtWebEngine::parkView(QWidget* view)
{
    park(qobject_cast<QWebEngineView*>(view));
}

namespace {
// Where page views wait while no peer shows them: never shown, so that
// nothing in it is on screen or a window of its own.
QWidget* parking()
{
    static QPointer<QWidget> holder;
    if (!holder)
        holder = new QWidget;
    return holder;
}
} // namespace

QWebEngineView* QtWebEngine::pageView() const
{
    return m_page ? QWebEngineView::forPage(m_page) : nullptr;
}

void QtWebEngine::park(QWebEngineView* view)
{
    if (!view)
        return;
    view->hide();
    view->setParent(parking());
}

void QtWebEngine::createPage()
{
    if (m_page)
        return;
    // A private, off-the-record profile: nothing of a page outlives the process.
    static QWebEngineProfile* profile = [] {
        auto* p = new QWebEngineProfile(QCoreApplication::instance());
        if (QWebEngineUrlScheme::schemeByName(kit::appMessageScheme).name() == kit::appMessageScheme)
            p->installUrlSchemeHandler(kit::appMessageScheme, new RefusingSchemeHandler(p));
        // The engine has started with its flags: the environment is the caller's again.
        if (std::exchange(g_chromiumFlagsSet, false)) {
            if (g_callersChromiumFlags)
                ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", g_callersChromiumFlags->c_str(), 1);
            else
                ::unsetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        }
        return p;
    }();
    m_page = new Page(*this, profile);
    // A failure leaves the page shown before, not the engine's account of it.
    m_page->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    QWebEngineScript clicks;
    clicks.setName(QStringLiteral("quorvane-written-links"));
    clicks.setInjectionPoint(QWebEngineScript::DocumentCreation);
    clicks.setWorldId(QWebEngineScript::ApplicationWorld);
    clicks.setRunsOnSubFrames(false);
    clicks.setSourceCode(QString::fromUtf8(writtenLinkScript));
    m_page->scripts().insert(clicks);
    QObject::connect(m_page, &QWebEnginePage::loadingChanged, m_page, [this](const QWebEngineLoadingInfo& info) { loadingChanged(info); });
    QObject::connect(m_page, &QWebEnginePage::titleChanged, m_page, [this](const QString& title) {
        if (!m_restoring)
            m_view.engineTitleChanged(title.toStdString());
    });
    QObject::connect(m_page, &QWebEnginePage::urlChanged, m_page, [this](const QUrl& url) {
        // A new document (not a place in the same one): laid out at the
        // view's width first, then fitted when it has loaded.
        const QUrl document = url.adjusted(QUrl::RemoveFragment);
        if (m_scalesPageToFit && document != std::exchange(m_document, document) && m_page->zoomFactor() != 1.0)
            m_page->setZoomFactor(1.0);
        if (!m_restoring)
            m_view.engineHistoryChanged();
    });
    QObject::connect(m_page, &QWebEnginePage::visibleChanged, m_page, [this](bool visible) { seenChanged(visible); });
    QObject::connect(m_page, &QWebEnginePage::recommendedStateChanged, m_page, [this] {
        if (m_releaseDue)
            releasePage();
    });
    // Its one view, hidden until a peer shows it (see pageView).
    auto* view = new QWebEngineView(parking());
    view->resize(std::max(1, int(m_view.frame().width())), std::max(1, int(m_view.frame().height())));
    view->setPage(m_page);
    auto ready = std::move(m_pageReady);
    m_pageReady.clear();
    for (auto& r : ready)
        r(m_page);
    // A page made for a view that is not on screen starts counting at once.
    seenChanged(m_page->isVisible());
    if (auto pending = std::move(m_pendingLoad)) {
        m_pendingLoad.reset();
        if (auto html = std::move(m_pendingHtml)) {
            m_pendingHtml.reset();
            loadHTMLString(*html, *pending);
        } else {
            load(*pending);
        }
    }
}

void QtWebEngine::seenChanged(bool seen)
{
    if (seen)
        activatePage();
    else if (!m_release && !m_releaseDue)
        m_release = kit::Timer::scheduled(pageReleaseDelay, false, [this](kit::Timer&) {
            m_releaseDue = true;
            releasePage();
        });
}

void QtWebEngine::releasePage()
{
    using State = QWebEnginePage::LifecycleState;
    // One step down at a time: once frozen, the engine says whether
    // discarding is safe too (a page that asks before it is left is only frozen).
    while (m_page && !m_page->isVisible()) {
        const State now = m_page->lifecycleState();
        if (m_page->recommendedState() <= now || now == State::Discarded)
            return;
        m_page->setLifecycleState(now == State::Active ? State::Frozen : State::Discarded);
        if (m_page->lifecycleState() == now)
            return; // refused
    }
}

void QtWebEngine::activatePage()
{
    if (!m_page)
        return;
    // In use again: the unseen time counts from now.
    m_releaseDue = false;
    m_release.reset();
    if (m_page->lifecycleState() != QWebEnginePage::LifecycleState::Active)
        m_page->setLifecycleState(QWebEnginePage::LifecycleState::Active);
    if (!m_page->isVisible())
        seenChanged(false);
}

void QtWebEngine::loadingChanged(const QWebEngineLoadingInfo& info)
{
    // Another program's address (mail, telephone, the store's): asked about
    // already, and nothing of it is the view's.
    if (const auto scheme = info.url().scheme().toLower(); !scheme.isEmpty() && !kit::webEngineShowsScheme(scheme.toStdString()))
        return;
    auto request = info.url().scheme() == QLatin1String("data") && m_htmlRequest
        ? *m_htmlRequest
        : kit::URLRequest::requestWithURL(kit::URL::withString(info.url().toString(QUrl::FullyEncoded).toStdString()));
    if (auto it = std::find(m_refused.begin(), m_refused.end(), info.url()); it != m_refused.end()) {
        if (info.status() != QWebEngineLoadingInfo::LoadStartedStatus)
            m_refused.erase(it);
        return;
    }
    if (m_restoring) {
        // The way back to the page shown: silent, then the failure it follows.
        if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus) {
            fitPageWidth();
            m_view.engineTitleChanged(m_page->title().toStdString());
        }
        if (info.status() != QWebEngineLoadingInfo::LoadStartedStatus)
            reportHeldFailure();
        return;
    }
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        m_loading = true;
        m_view.engineDidStartLoad(request);
        break;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        m_loading = false;
        stopTimeout();
        m_shownIndex = m_page->history()->currentItemIndex();
        m_shownUrl = m_page->history()->currentItem().url();
        fitPageWidth();
        m_view.engineDidFinishLoad(request, m_page->title().toStdString());
        break;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
    case QWebEngineLoadingInfo::LoadFailedStatus: {
        m_loading = false;
        stopTimeout();
        int code = kit::WebErrorCancelled;
        if (std::exchange(m_timedOut, false))
            code = kit::WebErrorTimedOut;
        else if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus)
            code = kit::webErrorForNetError(domainOf(info.errorDomain()), info.errorCode());
        kit::WebError error { code, info.errorString().toStdString() };
        if (code != kit::WebErrorCancelled && restoreShownPage()) {
            m_heldFailure = std::move(error);
            return;
        }
        m_view.engineDidFailLoad(error);
        break;
    }
    }
}

bool QtWebEngine::restoreShownPage()
{
    auto* history = m_page->history();
    if (m_shownIndex < 0 || m_shownIndex >= history->count())
        return false;
    if (history->currentItemIndex() == m_shownIndex && history->currentItem().url() == m_shownUrl)
        return false; // nothing replaced it
    auto shown = history->itemAt(m_shownIndex);
    if (!shown.isValid() || shown.url() != m_shownUrl)
        return false;
    m_failedIndex = history->currentItemIndex();
    m_failedUrl = history->currentItem().url();
    m_restoring = true;
    history->goToItem(shown);
    return true;
}

void QtWebEngine::reportHeldFailure()
{
    m_restoring = false;
    if (auto failure = std::exchange(m_heldFailure, std::nullopt))
        m_view.engineDidFailLoad(*failure);
}

void QtWebEngine::setScalesPageToFit(bool scales)
{
    m_scalesPageToFit = scales;
}

void QtWebEngine::fitPageWidth()
{
    if (!m_scalesPageToFit || !m_page)
        return;
    // The widest of the document and its body, in the page's own pixels at zoom 1.
    const auto measure = QStringLiteral("Math.max(document.documentElement ? document.documentElement.scrollWidth : 0,"
                                        " document.body ? document.body.scrollWidth : 0)");
    QPointer<QWebEnginePage> page = m_page;
    std::weak_ptr<bool> alive = m_alive;
    m_page->runJavaScript(measure, QWebEngineScript::ApplicationWorld, [this, page, alive](const QVariant& result) {
        if (alive.expired() || !page)
            return;
        const double content = result.toDouble();
        auto* shown = QWebEngineView::forPage(page);
        // A parked view keeps the size it was last shown at; the kit view's is the one to fit.
        const double width = shown && shown->isVisible() ? shown->width() : double(m_view.frame().width());
        if (content <= 0 || width <= 0)
            return;
        page->setZoomFactor(std::clamp(width / content, 0.25, 1.0));
    });
}

QtWebEngine::~QtWebEngine()
{
    if (m_page) {
        // No report reaches the view from here on.
        QObject::disconnect(m_page, nullptr, nullptr, nullptr);
        // The page's view goes first, wherever it is (in a peer, perhaps one
        // waiting for its deferred deletion, or parked): it would reach a
        // page that has gone.
        delete QWebEngineView::forPage(m_page);
        delete m_page.data();
    }
}

void QtWebEngine::loadHTMLString(const std::string& html, const kit::URLRequest& request)
{
    if (!m_page) {
        m_pendingLoad = request;
        m_pendingHtml = html;
        return;
    }
    activatePage();
    stopTimeout();
    m_htmlRequest = request;
    QUrl base = QUrl(QString::fromStdString(request.absoluteString()));
    m_page->setHtml(QString::fromStdString(html), base.scheme() == QLatin1String("about") ? QUrl() : base);
}

void QtWebEngine::load(const kit::URLRequest& request)
{
    // A failure still on its way back to the page shown is told first.
    if (m_restoring)
        reportHeldFailure();
    m_pendingHtml.reset();
    m_htmlRequest.reset();
    if (!m_page) {
        m_pendingLoad = request;
        return;
    }
    activatePage();
    m_loadApproved = true;
    QWebEngineHttpRequest http(QUrl(QString::fromStdString(request.absoluteString())));
    if (request.cachePolicy() != kit::URLRequestCachePolicy::UseProtocolCachePolicy)
        http.setHeader("Cache-Control", "no-cache");
    stopTimeout();
    m_timedOut = false;
    if (request.timeoutInterval() > 0) {
        m_timeout = new QTimer(m_page);
        m_timeout->setSingleShot(true);
        QObject::connect(m_timeout, &QTimer::timeout, m_page, [this] {
            if (!m_loading)
                return;
            m_timedOut = true;
            m_page->triggerAction(QWebEnginePage::Stop);
        });
        m_timeout->start(int(request.timeoutInterval() * 1000));
    }
    m_page->load(http);
}

void QtWebEngine::stopTimeout()
{
    if (m_timeout)
        m_timeout->deleteLater();
    m_timeout = nullptr;
}

void QtWebEngine::stopLoading()
{
    m_pendingLoad.reset();
    m_pendingHtml.reset();
    if (m_page)
        m_page->triggerAction(QWebEnginePage::Stop);
}

void QtWebEngine::reload()
{
    if (!m_page)
        return;
    activatePage();
    m_page->triggerAction(QWebEnginePage::Reload);
}

bool QtWebEngine::isFailedEntry(int index) const
{
    if (!m_page || index != m_failedIndex || index < 0 || index >= m_page->history()->count())
        return false;
    return m_page->history()->itemAt(index).url() == m_failedUrl;
}

int QtWebEngine::nextEntry(int step) const
{
    if (!m_page)
        return -1;
    auto* history = m_page->history();
    int index = history->currentItemIndex() + step;
    if (isFailedEntry(index))
        index += step;
    return index >= 0 && index < history->count() ? index : -1;
}

void QtWebEngine::goBack()
{
    if (int index = nextEntry(-1); index >= 0) {
        activatePage();
        m_page->history()->goToItem(m_page->history()->itemAt(index));
    }
}

void QtWebEngine::goForward()
{
    if (int index = nextEntry(1); index >= 0) {
        activatePage();
        m_page->history()->goToItem(m_page->history()->itemAt(index));
    }
}

bool QtWebEngine::canGoBack() const
{
    return nextEntry(-1) >= 0;
}

bool QtWebEngine::canGoForward() const
{
    return nextEntry(1) >= 0;
}

void QtWebEngine::evaluateJavaScript(const std::string& script, std::function<void(std::string)> completion)
{
    if (!m_page) {
        if (completion)
            completion({});
        return;
    }
    // A frozen page would answer only once seen; a discarded one has no document to ask.
    activatePage();
    m_page->runJavaScript(QString::fromStdString(script), [completion = std::move(completion)](const QVariant& result) {
        if (completion)
            completion(result.isValid() ? result.toString().toStdString() : std::string());
    });
}

namespace {

class Module final : public WebModule {
public:
    std::unique_ptr<ShownWebEngine> makeEngine(kit::WebView& view) const override
    {
        return std::make_unique<QtWebEngine>(view);
    }
    void setVerbose(bool verbose) const override { QtWebEngine::setVerbose(verbose); }
};

} // namespace

} // namespace qtshell

const qtshell::WebModule* quorvane_web_module()
{
    static const qtshell::Module module;
    return &module;
}
