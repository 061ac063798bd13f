#include "kit/Layer.h"

#include "kit/Image.h"
#include "kit/RecordingContext.h"
#include "kit/RunLoop.h"
#include "kit/Timer.h"

#include <algorithm>

namespace kit {

Transform3D Transform3D::scale(float sx, float sy, float sz)
{
    Transform3D t;
    t.m[0] = sx;
    t.m[5] = sy;
    t.m[10] = sz;
    return t;
}

Transform3D Transform3D::translation(float tx, float ty, float tz)
{
    Transform3D t;
    t.m[12] = tx;
    t.m[13] = ty;
    t.m[14] = tz;
    return t;
}

std::string Transform3D::toString() const
{
    if (isIdentity())
        return "identity";
    bool scaleOnly = true;
    for (int i = 0; i < 16; ++i)
        if (i != 0 && i != 5 && i != 10 && m[i] != (i == 15 ? 1.0f : 0.0f))
            scaleOnly = false;
    if (scaleOnly)
        return "scale(" + formatFloat(m[0]) + "," + formatFloat(m[5]) + "," + formatFloat(m[10]) + ")";
    std::string out = "matrix(";
    for (int i = 0; i < 16; ++i)
        out += (i ? "," : "") + formatFloat(m[i]);
    return out + ")";
}

Transform3D interpolate(const Transform3D& from, const Transform3D& to, double t)
{
    Transform3D out;
    for (int i = 0; i < 16; ++i)
        out.m[i] = float(from.m[i] + (to.m[i] - from.m[i]) * t);
    return out;
}

Transform3D KeyframeAnimation::valueAt(double elapsed) const
{
    if (values.empty())
        return {};
    if (values.size() == 1 || duration <= 0)
        return values.back();
    double t = std::clamp(elapsed / duration, 0.0, 1.0);
    auto timeOf = [&](size_t i) {
        if (keyTimes.size() == values.size())
            return keyTimes[i];
        return double(i) / double(values.size() - 1);
    };
    if (t <= timeOf(0))
        return values.front();
    for (size_t i = 1; i < values.size(); ++i) {
        double t0 = timeOf(i - 1), t1 = timeOf(i);
        if (t <= t1)
            return t1 > t0 ? interpolate(values[i - 1], values[i], (t - t0) / (t1 - t0)) : values[i];
    }
    return values.back();
}

Layer::~Layer()
{
    for (auto& [key, running] : m_animations)
        if (running.end)
            running.end->invalidate();
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

void Layer::addAnimation(std::shared_ptr<KeyframeAnimation> animation, const std::string& key)
{
    if (!animation)
        return;
    removeAnimationForKey(key);
    auto& loop = RunLoop::main();
    animation->beginTime = loop.now();
    std::weak_ptr<Layer> weak = weak_from_this();
    const KeyframeAnimation* identity = animation.get();
    auto end = Timer::scheduled(loop, std::max(0.0, animation->duration), false, [weak, key, identity](Timer&) {
        if (auto layer = weak.lock())
            layer->animationEnded(key, identity);
    });
    m_animations[key] = { std::move(animation), std::move(end) };
    changed();
}

void Layer::animationEnded(const std::string& key, const KeyframeAnimation* identity)
{
    auto it = m_animations.find(key);
    if (it == m_animations.end() || it->second.animation.get() != identity)
        return;
    auto keep = shared_from_this();
    auto animation = it->second.animation;
    it->second.end.reset();
    if (animation->removedOnCompletion)
        m_animations.erase(it);
    changed();
    if (animation->didStop)
        animation->didStop(*animation, true);
}

KeyframeAnimation* Layer::animationForKey(const std::string& key) const
{
    auto it = m_animations.find(key);
    return it == m_animations.end() ? nullptr : it->second.animation.get();
}

void Layer::removeAnimationForKey(const std::string& key)
{
    auto it = m_animations.find(key);
    if (it == m_animations.end())
        return;
    if (it->second.end)
        it->second.end->invalidate();
    m_animations.erase(it);
    changed();
}

std::vector<std::string> Layer::animationKeys() const
{
    std::vector<std::string> keys;
    for (auto& [key, running] : m_animations)
        keys.push_back(key);
    return keys;
}

Transform3D Layer::presentationTransform(double now) const
{
    // The last animation added wins, as on the handheld; only "transform" is animated.
    const KeyframeAnimation* shown = nullptr;
    for (auto& [key, running] : m_animations)
        if (running.animation->keyPath == "transform" && (!shown || running.animation->beginTime >= shown->beginTime))
            shown = running.animation.get();
    if (!shown)
        return m_transform;
    return shown->valueAt(now - shown->beginTime);
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
        for (auto& key : sub->animationKeys())
            out += " animation=" + key;
        out += '\n' + sub->describeSublayers(depth + 1);
    }
    return out;
}

bool Layer::isAnimating(double now) const
{
    for (auto& [key, running] : m_animations)
        if (now < running.animation->beginTime + running.animation->duration)
            return true;
    return std::any_of(m_sublayers.begin(), m_sublayers.end(), [now](auto& l) { return l->isAnimating(now); });
}

} // namespace kit
