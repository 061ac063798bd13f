#include "kit/gfx/Layer.h"

#include "kit/gfx/Image.h"
#include "kit/gfx/RecordingContext.h"
#include "kit/core/RunLoop.h"

#include <algorithm>

namespace kit {

Layer::~Layer()
{
    for (auto& layer : m_sublayers)
        layer->m_superlayer = nullptr;
}

void Layer::changed()
{
    Layer* root = this;
    while (root->m_superlayer)
        root = root->m_superlayer;
    if (root->onChange)
        root->onChange();
}

void Layer::setFrame(const Rect& frame)
{
    if (m_frame == frame)
        return;
    m_frame = frame;
    changed();
}

void Layer::setContents(std::shared_ptr<const Image> image)
{
    m_contents = std::move(image);
    changed();
}

void Layer::setTransform(const Transform3D& transform)
{
    if (m_transform == transform)
        return;
    m_transform = transform;
    changed();
}

void Layer::addSublayer(std::shared_ptr<Layer> layer)
{
    if (!layer || layer.get() == this)
        return;
    layer->removeFromSuperlayer();
    layer->m_superlayer = this;
    m_sublayers.push_back(std::move(layer));
    changed();
}

void Layer::removeFromSuperlayer()
{
    auto* parent = m_superlayer;
    if (!parent)
        return;
    auto keep = shared_from_this();
    m_superlayer = nullptr;
    std::erase_if(parent->m_sublayers, [&](auto& l) { return l.get() == this; });
    parent->changed();
}

void Layer::setSublayers(std::vector<std::shared_ptr<Layer>> layers)
{
    auto old = std::move(m_sublayers);
    m_sublayers.clear();
    for (auto& layer : old)
        layer->m_superlayer = nullptr;
    for (auto& layer : layers)
        if (layer && layer.get() != this) {
            layer->removeFromSuperlayer();
            layer->m_superlayer = this;
            m_sublayers.push_back(layer);
        }
    changed();
}

void Layer::setAnchorPoint(Point anchor)
{
    if (m_anchorPoint == anchor)
        return;
    m_anchorPoint = anchor;
    changed();
}

void Layer::addAnimation(std::shared_ptr<Animation> animation, const std::string& key)
{
    m_animations.add(std::move(animation), key);
}

Transform3D Layer::presentationTransform(double now) const
{
    if (auto value = m_animations.presentationValue("transform", now))
        if (auto* t = std::get_if<Transform3D>(&*value))
            return *t;
    return m_transform;
}

Transform3D Layer::placement(double now) const
{
    float ax = m_anchorPoint.x * m_frame.width(), ay = m_anchorPoint.y * m_frame.height();
    return Transform3D::translation(-ax, -ay, 0)
        .concat(presentationTransform(now))
        .concat(Transform3D::translation(m_frame.x() + ax, m_frame.y() + ay, 0));
}

std::string Layer::describeSublayers(int depth) const
{
    std::string out;
    for (auto& sub : m_sublayers) {
        out += std::string(size_t(depth) * 2, ' ') + "CALayer " + sub->frame().toString();
        if (sub->contents())
            out += " contents=" + std::to_string(sub->contents()->width()) + "x" + std::to_string(sub->contents()->height());
        if (!sub->transform().isIdentity())
            out += " transform=" + sub->transform().toString();
        if (sub->anchorPoint() != Point { 0.5f, 0.5f })
            out += " anchor=(" + formatFloat(sub->anchorPoint().x) + "," + formatFloat(sub->anchorPoint().y) + ")";
        for (auto& key : sub->animationKeys())
            out += " animation=" + key;
        out += '\n' + sub->describeSublayers(depth + 1);
    }
    return out;
}

bool Layer::isAnimating(double now) const
{
    if (m_animations.isRunning(now))
        return true;
    return std::any_of(m_sublayers.begin(), m_sublayers.end(), [now](auto& l) { return l->isAnimating(now); });
}

} // namespace kit
