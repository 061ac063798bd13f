#include "kit/ui/DrawingView.h"

#include "kit/gfx/RecordingContext.h"

namespace kit {

DrawingView::~DrawingView()
{
    if (m_layer)
        m_layer->onChange = nullptr;
}

Layer& DrawingView::layer()
{
    if (!m_layer) {
        m_layer = Layer::create();
        m_layer->setFrame(bounds());
        m_layer->onChange = [this] { changed(ViewProperty::Content); };
    }
    return *m_layer;
}

std::string DrawingView::recordDrawing()
{
    RecordingContext context;
    drawRect(context, bounds());
    return context.toString();
}

} // namespace kit
