#pragma once
// The application's window: 320 x 480 points, of which the top 20 are the
// status bar; the application frame is the 320 x 460 below it.
#include "kit/View.h"

namespace kit {

class Window : public View {
public:
    static constexpr float width = 320, height = 480, statusBarHeight = 20;
    static Rect screenBounds() { return { 0, 0, width, height }; }
    static Rect applicationFrame() { return { 0, statusBarHeight, width, height - statusBarHeight }; }

    Window() : View(screenBounds()) { }
    std::string className() const override { return "UIWindow"; }
    void makeKeyAndVisible();
    bool isKeyWindow() const { return m_key; }

    // The screen a person sees on top: the last visible subview.
    View* frontView() const;

private:
    bool m_key { false };
};

} // namespace kit
