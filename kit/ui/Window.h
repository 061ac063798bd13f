#pragma once
// The application's window: the screen's size in points (320 x 480, its
// natural size, until a shell says otherwise), of which the top 20 are the
// status bar; the application frame is what lies below it. Where the system
// shows a status bar of its own (a phone's shell), the application's is
// hidden and the application frame is the whole screen. A shell reports a
// new size (a larger window, a turned phone) by setScreenSize: the windows
// take it as their bounds and their views follow by their autoresizing masks.
//
// The window owns input. Shells forward one finger's touches at window
// points (or at the points of a popup's view shown over the window) and the
// window does the rest, the same for every shell: the hit test when a touch
// begins; a touch that begins in a table's row goes to the table (which
// turns it into a tap on the row), unless a control in the row keeps its own
// touches; the view hit keeps the touch to its end, in its own coordinates;
// a drag of more than dragThreshold points on a table scrolls it one to one
// with the finger and is then no tap. The window keeps the finger's recent
// moves on the run loop's clock: released while moving, the table glides on
// with the finger's velocity and slows to a stop (TableView::glide); a touch
// that lands on a gliding table stops it and is no tap. A second touch while one is down is
// ignored. The window also holds the first responder, the text field that
// takes typed keys. Both links are weak: a view that dies lets go of them.
#include "kit/ui/TableView.h"
#include "kit/ui/View.h"

#include <memory>
#include <vector>

namespace kit {

class TextField;

class Window : public View {
public:
    // The natural size: at it every frame is the one the application was laid out for.
    static constexpr float width = 320, height = 480, statusBarHeight = 20;
    // The smallest size the layout works at: as narrow as the natural size,
    // as low as the room a phone's shell leaves when the phone is turned.
    static constexpr float minimumWidth = 320, minimumHeight = 288;
    static constexpr float dragThreshold = 8;
    // The screen (and so every window) at the size in force.
    static Rect screenBounds();
    // The screen below the status bar.
    static Rect applicationFrame();
    // A new screen size, from the shell: every live window takes it at once.
    // Sizes below the minimum are raised to it.
    static void setScreenSize(Size size);
    // The application's own status bar, hidden where the system shows one.
    // Every window's screens that cover the application frame take the new
    // one at once.
    static void setStatusBarHidden(bool hidden);
    static bool isStatusBarHidden();

    Window();
    ~Window() override;
    std::string className() const override { return "UIWindow"; }
    static constexpr ViewKind staticKind = ViewKind::Window;
    ViewKind kind() const override { return staticKind; }
    // The key window (the one that takes typed keys and shows the
    // application) is kept here, for the whole process: the window made key
    // last that is still alive, or null. The application object asks it.
    void makeKeyWindow();
    void makeKeyAndVisible();
    bool isKeyWindow() const { return keyWindow() == this; }
    static Window* keyWindow();

    // The screen a person sees on top: the last visible subview.
    View* frontView() const;

    // Touches. `root` is the view whose coordinates the point is in: this
    // window (null) or a popup's view. touchBegan answers whether a view
    // took the touch.
    bool touchBegan(Point point, View* root = nullptr);
    void touchMoved(Point point);
    void touchEnded(Point point);
    // The touch ends without acting (the shell lost it, a second finger came).
    void touchCancelled();
    bool isTouchDown() const { return !m_touch.target.expired(); }
    View* touchTarget() const { return m_touch.target.lock().get(); }
    // The view a person sees pressed: the target while the finger is on it
    // and no drag scrolls; null otherwise.
    View* pressedView() const;
    // A wheel or a key scrolling the table that holds `view`, by dy points.
    // False when no table holds it.
    bool scrollTableHolding(View& view, float dy);
    // The table that takes the touches of `view` (the view itself, or the
    // table whose row holds it), or null.
    static TableView* tableTakingTouchesOf(View* view);
    // The finger's velocity over the last velocityWindow seconds of a drag,
    // in points per second (downward positive); 0 once it has rested that long.
    static constexpr double velocityWindow = 0.1;
    static constexpr float maximumFlickVelocity = 8000;
    float touchVelocity() const;
    // The list of the screen in front (the first shown table in it), or null.
    TableView* frontTable() const;
    // PageUp/PageDown/Home/End: scroll the front screen's list. False when
    // there is none.
    bool scrollFrontTable(TableView::ScrollKey key);

    // Focus.
    TextField* firstResponder() const;
    void setFirstResponder(TextField* field);

private:
    Point toTarget(View& target, Point point) const;

    struct Touch {
        std::weak_ptr<View> target;
        std::weak_ptr<View> root;
        Point start;
        float offsetAtStart { 0 };
        bool scrolling { false };
        bool inside { false };
        bool stoppedGlide { false };
        struct Sample {
            double time;
            float y;
        };
        std::vector<Sample> samples; // the recent moves, oldest first
    };
    void addSample(Point point);
    Touch m_touch;
    std::weak_ptr<View> m_firstResponder;
};

} // namespace kit
