#pragma once
// Layers: the pieces of a view's picture that live apart from its drawing.
// A view that draws has a root layer; its sublayers have a frame (in the
// view's coordinates), an image as content and a 3-D transform about their
// anchor point (the centre unless set), and are shown over the view's drawing
// in sublayer order.
//
// Animations (kit/gfx/Animation.h) attach to a layer under a key and run on the
// main run loop's clock; the layer's "transform" is the animated key path.
//
// Ownership: a layer holds its sublayers; the link to the superlayer is not
// held and is cleared by the superlayer. A layer holds its animations, and
// an animation holds its callback.
#include "kit/gfx/Animation.h"
#include "kit/gfx/Geometry.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kit {

class Image;

class Layer : public std::enable_shared_from_this<Layer> {
public:
    static std::shared_ptr<Layer> create() { return std::make_shared<Layer>(); }
    Layer() = default;
    ~Layer();
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    const Rect& frame() const { return m_frame; }
    void setFrame(const Rect& frame);
    const std::shared_ptr<const Image>& contents() const { return m_contents; }
    void setContents(std::shared_ptr<const Image> image);
    const Transform3D& transform() const { return m_transform; }
    void setTransform(const Transform3D& transform);
    // In units of the frame's size: (0, 0) is the top left, (0.5, 0.5) the centre.
    Point anchorPoint() const { return m_anchorPoint; }
    void setAnchorPoint(Point anchor);

    Layer* superlayer() const { return m_superlayer; }
    const std::vector<std::shared_ptr<Layer>>& sublayers() const { return m_sublayers; }
    void addSublayer(std::shared_ptr<Layer> layer);
    void removeFromSuperlayer();
    // Replaces the sublayer list (an empty list removes them all).
    void setSublayers(std::vector<std::shared_ptr<Layer>> layers);

    void addAnimation(std::shared_ptr<Animation> animation, const std::string& key);
    Animation* animationForKey(const std::string& key) const { return m_animations.forKey(key); }
    void removeAnimationForKey(const std::string& key) { m_animations.remove(key); }
    std::vector<std::string> animationKeys() const { return m_animations.keys(); }

    // What to show at the run loop's time `now`.
    Transform3D presentationTransform(double now) const;
    // The whole transform from the layer's own coordinates into its
    // superlayer's, at `now`: about the anchor point, placed at the frame.
    Transform3D placement(double now) const;
    // Whether an animation of this layer or a sublayer still runs at `now`.
    bool isAnimating(double now) const;

    // The sublayers, one line each, indented by depth: frame, contents size,
    // transform, running animations by key.
    std::string describeSublayers(int depth) const;

    // Called on the root layer after any change in its tree (its view
    // redraws).
    std::function<void()> onChange;

private:
    void changed();

    Rect m_frame;
    std::shared_ptr<const Image> m_contents;
    Transform3D m_transform;
    Point m_anchorPoint { 0.5f, 0.5f };
    Layer* m_superlayer { nullptr };
    std::vector<std::shared_ptr<Layer>> m_sublayers;
    AnimationSet m_animations { [this] { changed(); } };
};

} // namespace kit
