#include "shells/qt/Modules.h"

#include "shells/qt/FirstFrame.h"

#include "kit/core/Log.h"

#include <QOpenGLContext>
#include <QGuiApplication>

#include <cstdlib>
#include <deque>
#include <dlfcn.h>
#include <filesystem>
#include <iostream>
#include <utility>

#ifndef QUORVANE_MODULE_RELATIVE_DIR
#define QUORVANE_MODULE_RELATIVE_DIR "../lib/quorvane"
#endif

namespace qtshell {

ShownWebEngine::~ShownWebEngine() = default;
WebModule::~WebModule() = default;
PlayerModule::~PlayerModule() = default;

namespace {

template <class Module>
struct Opened {
    bool tried { false };
    const Module* module { nullptr };
};

Opened<WebModule> g_web;
Opened<PlayerModule> g_player;
bool g_verbose = false;

// A broken installation: the person is told where it shows, not only the log.
void sayUnopened(const std::string& problem)
{
    kit::log(problem);
    std::cerr << "quorvane: " << problem << std::endl;
}

// Opens the module's file once and answers what its entry gives.
template <class Module>
const Module* open(Opened<Module>& opened, const char* file, const char* entryName)
{
    if (std::exchange(opened.tried, true))
        return opened.module;
    const std::string path = Modules::directory() + "/" + file;
    // Every symbol bound now: a module that does not fit the program fails here, not in use.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        sayUnopened("Quorvane cannot open its module " + path + ": " + (why ? why : "unknown reason"));
        return nullptr;
    }
    using Entry = const Module* (*)();
    auto entry = reinterpret_cast<Entry>(::dlsym(handle, entryName));
    if (!entry) {
        sayUnopened("Quorvane's module " + path + " has no entry " + entryName);
        return nullptr;
    }
    opened.module = entry();
    return opened.module;
}

// A web view's engine until the web module is open: what it is asked is
// kept, in order, and handed to the module's engine once there is one.
class WaitingWebEngine final : public ShownWebEngine {
public:
    explicit WaitingWebEngine(kit::WebView& view)
        : m_view(view)
    {
        waiting().push_back(this);
    }
    ~WaitingWebEngine() override { std::erase(waiting(), this); }

    // The module is open (or cannot be): every engine waiting gets its own.
    static void moduleOpened()
    {
        const auto* module = Modules::web();
        for (auto* engine : std::exchange(waiting(), {}))
            engine->becomeReal(module);
    }

    void load(const kit::URLRequest& request) override
    {
        pass([request](kit::WebEngine& e) { e.load(request); });
    }
    void loadHTMLString(const std::string& html, const kit::URLRequest& request) override
    {
        pass([html, request](kit::WebEngine& e) { e.loadHTMLString(html, request); });
    }
    void stopLoading() override
    {
        pass([](kit::WebEngine& e) { e.stopLoading(); });
    }
    void reload() override
    {
        pass([](kit::WebEngine& e) { e.reload(); });
    }
    void goBack() override
    {
        pass([](kit::WebEngine& e) { e.goBack(); });
    }
    void goForward() override
    {
        pass([](kit::WebEngine& e) { e.goForward(); });
    }
    bool canGoBack() const override { return m_real && m_real->canGoBack(); }
    bool canGoForward() const override { return m_real && m_real->canGoForward(); }
    void evaluateJavaScript(const std::string& script, std::function<void(std::string)> completion) override
    {
        pass([script, completion = std::move(completion)](kit::WebEngine& e) mutable {
            e.evaluateJavaScript(script, std::move(completion));
        });
    }
    void setScalesPageToFit(bool scales) override
    {
        pass([scales](kit::WebEngine& e) { e.setScalesPageToFit(scales); });
    }
    void whenViewReady(std::function<void(QWidget*)> ready) override
    {
        if (m_shown)
            m_shown->whenViewReady(std::move(ready));
        else if (!m_real)
            m_viewReady.push_back(std::move(ready));
    }
    void parkView(QWidget* view) override
    {
        if (m_shown)
            m_shown->parkView(view);
    }

private:
    static std::vector<WaitingWebEngine*>& waiting()
    {
        static std::vector<WaitingWebEngine*> engines;
        return engines;
    }

    void pass(std::function<void(kit::WebEngine&)> call)
    {
        if (m_real)
            call(*m_real);
        else
            m_calls.push_back(std::move(call));
    }

    void becomeReal(const WebModule* module)
    {
        if (module) {
            auto real = module->makeEngine(m_view);
            m_shown = real.get();
            m_real = std::move(real);
            for (auto& ready : std::exchange(m_viewReady, {}))
                m_shown->whenViewReady(std::move(ready));
        } else {
            // Without the module no page will show: loads fail as without any engine.
            m_real = kit::makeNoWebEngine(m_view);
        }
        // A call may ask for more (a load's script): those go straight through now.
        while (!m_calls.empty()) {
            auto call = std::move(m_calls.front());
            m_calls.pop_front();
            call(*m_real);
        }
    }

    kit::WebView& m_view;
    std::unique_ptr<kit::WebEngine> m_real;
    ShownWebEngine* m_shown { nullptr }; // m_real, when the module's
    std::vector<std::function<void(QWidget*)>> m_viewReady;
    std::deque<std::function<void(kit::WebEngine&)>> m_calls;
};

// The movie player until its module is open: the first play opens it.
class WaitingMoviePlayer final : public kit::MoviePlayerBackend {
public:
    void play(kit::MoviePlayerController& player) override
    {
        if (auto* backend = real())
            backend->play(player);
        else
            player.playbackFinished(kit::MovieFinishReason::PlaybackError);
    }
    void stop(kit::MoviePlayerController& player) override
    {
        if (m_real)
            m_real->stop(player);
    }

private:
    kit::MoviePlayerBackend* real()
    {
        if (!m_real)
            if (const auto* module = Modules::player())
                m_real = module->makeBackend();
        return m_real.get();
    }

    std::shared_ptr<kit::MoviePlayerBackend> m_real;
};

// Set by chooseSoftwareDrawing, taken back by releaseDrawingChoice.
bool g_glIntegrationSet = false;
bool g_waylandBufferIntegrationSet = false;

} // namespace

namespace Modules {

std::string directory()
{
    if (const char* dir = std::getenv("QUORVANE_MODULE_DIR"); dir && *dir)
        return dir;
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return QUORVANE_MODULE_RELATIVE_DIR;
    return (self.parent_path() / QUORVANE_MODULE_RELATIVE_DIR).lexically_normal().string();
}

void provide(const WebModule* web, const PlayerModule* player)
{
    g_web = { true, web };
    g_player = { true, player };
    if (web)
        web->setVerbose(g_verbose);
}

const WebModule* web()
{
    const bool first = !g_web.tried;
    const auto* module = open(g_web, "libquorvane-web.so", "quorvane_web_module");
    if (first && module)
        module->setVerbose(g_verbose);
    return module;
}

const PlayerModule* player()
{
    return open(g_player, "libquorvane-player.so", "quorvane_player_module");
}

bool webOpen()
{
    return g_web.module != nullptr;
}

kit::WebEngineFactory webEngineFactory()
{
    return [](kit::WebView& view) -> std::unique_ptr<kit::WebEngine> {
        // Reading in the engine's libraries takes longer than the whole window: not before its first frame.
        if (webOpen() || !isFirstFramePending()) {
            const auto* module = web();
            return module ? module->makeEngine(view) : nullptr;
        }
        auto engine = std::make_unique<WaitingWebEngine>(view);
        afterFirstFrame([] { WaitingWebEngine::moduleOpened(); });
        return engine;
    };
}

std::shared_ptr<kit::MoviePlayerBackend> movieBackend()
{
    if (g_player.module)
        return g_player.module->makeBackend();
    return std::make_shared<WaitingMoviePlayer>();
}

void setWebVerbose(bool verbose)
{
    g_verbose = verbose;
    if (g_web.module)
        g_web.module->setVerbose(verbose);
}

bool chooseSoftwareDrawing()
{
    // The web view is shown by Qt Quick. Its GPU path turns the whole window
    // into one GL surface: the window is made again when the first page
    // shows (it appears twice at start-up), and every repaint of the status
    // bar's wheel composes all of it again (software GL without a GPU, a few
    // per cent of a core). A page draws fast in software, and the rest of the
    // window never uses GL. (The web module tells Quick so before its first page.)
    if (std::getenv("QT_QUICK_BACKEND"))
        return false;
    if (std::getenv("QT_XCB_GL_INTEGRATION") || std::getenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION"))
        return false;
    ::setenv("QT_XCB_GL_INTEGRATION", "none", 1);
    g_glIntegrationSet = true;
    // Wayland's counterpart: its EGL buffer integration brings a software GL
    // driver that nothing draws with (about 20 MB private). No integration of
    // that name exists, so none is loaded.
    ::setenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION", "none", 1);
    g_waylandBufferIntegrationSet = true;
    return true;
}

void releaseDrawingChoice()
{
    if (std::exchange(g_glIntegrationSet, false))
        ::unsetenv("QT_XCB_GL_INTEGRATION");
    if (std::exchange(g_waylandBufferIntegrationSet, false)) {
        // Wayland's integration reads the setting when first asked about GL,
        // not when the application object is made: ask now, while it is set.
        if (qGuiApp)
            QOpenGLContext::supportsThreadedOpenGL();
        ::unsetenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION");
    }
}

} // namespace Modules

} // namespace qtshell
