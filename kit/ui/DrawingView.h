#pragma once
// A view that draws itself: drawRect() paints into a drawing context (the Qt
// shell's painter or the recording backend), and the view's root layer
// carries sublayers shown over that drawing. setNeedsDisplay() and any change
// in the layer tree tell the shells to redraw.
#include "kit/gfx/GraphicsContext.h"
#include "kit/gfx/Layer.h"
#include "kit/ui/View.h"

#include <memory>

namespace kit {

class DrawingView : public View {
public:
    DrawingView() = default;
    explicit DrawingView(Rect frame) : View(frame) { }
    ~DrawingView() override;
    static constexpr ViewKind staticKind = ViewKind::DrawingView;
    ViewKind kind() const override { return staticKind; }

    // Paints the view in its own coordinates; `rect` is the area to paint.
    virtual void drawRect(GraphicsContext& context, const Rect& rect) { }
    void setNeedsDisplay() { changed(ViewProperty::Content); }
    // What drawRect() draws now, recorded.
    std::string recordDrawing();

    bool isOpaque() const { return m_opaque; }
    void setOpaque(bool opaque) { m_opaque = opaque; }

    // The view's own layer; its frame is the view's bounds.
    Layer& layer();

private:
    std::shared_ptr<Layer> m_layer;
    bool m_opaque { false };
};

} // namespace kit
