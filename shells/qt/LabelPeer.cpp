// Labels draw their text over their background.
#include "shells/qt/PeerRegistry.h"
#include "shells/qt/TextDrawing.h"

namespace qtshell {
namespace {

class LabelPeer : public ViewPeer {
public:
    LabelPeer(kit::Label& label, Scene& scene) : ViewPeer(label, scene) { }

protected:
    void paintContent(QPainter& painter) override
    {
        auto* label = viewAs<kit::Label>();
        drawText(painter, rect(), label->text(), toQFont(label->font()), toQColor(label->textColor()), label->textAlignment(),
            label->numberOfLines(), label->lineBreakMode());
    }
};

} // namespace

void addLabelPeers()
{
    PeerRegistry::add<kit::Label, LabelPeer>();
}

} // namespace qtshell
