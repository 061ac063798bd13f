#pragma once
// The application's window: 320 x 480 points, of which the top 20 are the
// status bar; the application frame is the 320 x 460 below it.
//
// The window owns input. Shells forward one finger's touches at window
// points (or at the points of a popup's view shown over the window) and the
// window does the rest, the same for every shell: the hit test when a touch
// begins; a touch that begins in a table's row goes to the table (which
// turns it into a tap on the row), unless a control in the row keeps its own
// touches; the view hit keeps the touch to its end, in its own coordinates;
// a drag of more than dragThreshold points on a table scrolls it one to one
// with the finger and is then no tap. A second touch while one is down is
// ignored. The window also holds the first responder, the text field that
// takes typed keys. Both links are weak: a view that dies lets go of them.
#include "kit/ui/View.h"

#include <memory>

namespace kit {

class TableView;
class TextField;

class Window : public View {
public:
    static constexpr float width = 320, height = 480, statusBarHeight = 20;
    static constexpr float dragThreshold = 8;
    static Rect screenBounds() { return { 0, 0, width, height }; }
    static Rect applicationFrame() { return { 0, statusBarHeight, width, height - statusBarHeight }; }

    Window() : View(screenBounds()) { }
    ~Window() override;
    std::string className() const override { return "UIWindow"; }
    void makeKeyAndVisible();
    bool isKeyWindow() const { return m_key; }
    // The window made key last that is still alive, or null.
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
    };
    Touch m_touch;
    std::weak_ptr<View> m_firstResponder;
    bool m_key { false };
};

} // namespace kit
