#pragma once
// The window's two heavy parts, the web engine and the movie player, are
// modules of their own (libquorvane-web.so, libquorvane-player.so) opened
// when first needed: together they bring some seventy shared libraries,
// which the dynamic loader would otherwise read, relocate and bind before
// the window could show. The web module is opened after the window's first
// frame; the player's on the first movie.
//
// A web view made before its module is open gets a stand-in engine that
// keeps what it is asked and hands it on, in order, to the module's engine
// once that exists. Programs that link the modules in (the tests) hand
// them over with provide(), and get the real classes from the start.
//
// The modules take kit and the window's own code from the program (which
// exports them); they link only Qt's parts.
#include "kit/core/Platform.h"
#include "kit/ui/MoviePlayer.h"
#include "kit/web/WebEngine.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace qtshell {

// A web engine whose page the window can show: the page's one view, made
// with the page and kept as long as it, which a peer adopts and hands back.
class ShownWebEngine : public kit::WebEngine {
public:
    ~ShownWebEngine() override;
    // Runs now if the page's view exists, else once it has been made.
    virtual void whenViewReady(std::function<void(QWidget*)> ready) = 0;
    // A peer going away hands the view back, to wait unseen.
    virtual void parkView(QWidget* view) = 0;
};

class WebModule {
public:
    virtual ~WebModule();
    virtual std::unique_ptr<ShownWebEngine> makeEngine(kit::WebView& view) const = 0;
    // Whether the engine may print its own diagnostics.
    virtual void setVerbose(bool verbose) const = 0;
};

class PlayerModule {
public:
    virtual ~PlayerModule();
    virtual std::shared_ptr<kit::MoviePlayerBackend> makeBackend() const = 0;
};

namespace Modules {

// Where the modules are looked for: QUORVANE_MODULE_DIR, else the folder
// they are installed in, found from the program's own place.
std::string directory();

// For programs that link the modules in.
void provide(const WebModule* web, const PlayerModule* player);

// The module, opened now if it is not yet; null if it cannot be (said once
// in the log, with the loader's reason).
const WebModule* web();
const PlayerModule* player();
// Whether the web module is open (or provided).
bool webOpen();

// What the platform installs: engines and a player that open their module
// when needed.
kit::WebEngineFactory webEngineFactory();
std::shared_ptr<kit::MoviePlayerBackend> movieBackend();

void setWebVerbose(bool verbose);

// Before the application object is made: pages are drawn in software, so the
// window system's GL is not loaded (a software GL driver alone is about
// 13 MB of private memory). The setting is taken back once the application
// object exists (releaseDrawingChoice), so that programs Quorvane opens do
// not inherit it. A caller's own QT_XCB_GL_INTEGRATION,
// QT_WAYLAND_CLIENT_BUFFER_INTEGRATION or QT_QUICK_BACKEND is kept.
// Answers whether GL is left out.
bool chooseSoftwareDrawing();
void releaseDrawingChoice();

} // namespace Modules

} // namespace qtshell

// Each module's one entry.
extern "C" const qtshell::WebModule* quorvane_web_module();
extern "C" const qtshell::PlayerModule* quorvane_player_module();
