#pragma once
// Layers: the pieces of a view's picture that live apart from its drawing.
// A view that draws has a root layer; its sublayers have a frame (in the
// view's coordinates), an image as content and a 3-D transform about their
// centre, and are shown over the view's drawing in sublayer order.
//
// Key-frame animations attach to a layer under a key and run on the main run
// loop's clock. When one has run its duration its did-stop callback runs
// (finished = true) from a run-loop timer; an animation that is replaced
// under its key, removed, or whose layer goes away first ends without a
// callback, so nothing reaches a delegate that expected the full run.
// Unless removedOnCompletion is off, a finished animation leaves the layer.
//
// Ownership: a layer holds its sublayers; the link to the superlayer is not
// held and is cleared by the superlayer. A layer holds its animations, and
// an animation holds its callback.
#include "kit/Geometry.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kit {

class Image;
class Timer;

// A 4 × 4 transform in row-vector form (the handheld's layout: m41, m42,
// m43 translate). The shells show its 2-D components.
struct Transform3D {
    float m[16] { 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1 };
    static Transform3D identity() { return {}; }
    static Transform3D scale(float sx, float sy, float sz);
    static Transform3D translation(float tx, float ty, float tz);
    bool isIdentity() const { return *this == Transform3D {}; }
    float scaleX() const { return m[0]; }
    float scaleY() const { return m[5]; }
    bool operator==(const Transform3D&) const = default;
    std::string toString() const;
};
Transform3D interpolate(const Transform3D& from, const Transform3D& to, double t);

class KeyframeAnimation {
public:
    static constexpr double defaultDuration = 0.2;
    using DidStop = std::function<void(KeyframeAnimation& animation, bool finished)>;

    static std::shared_ptr<KeyframeAnimation> create(std::string keyPath)
    {
        auto a = std::make_shared<KeyframeAnimation>();
        a->keyPath = std::move(keyPath);
        return a;
    }

    std::string keyPath;
    std::vector<double> keyTimes; // 0…1, one per value; empty: evenly spread
    std::vector<Transform3D> values;
    double duration { defaultDuration };
    bool removedOnCompletion { true };
    DidStop didStop; // the delegate's animationDidStop:finished:

    // Set when added to a layer.
    double beginTime { 0 };
    // The value at a time since the beginning (linear between key frames).
    Transform3D valueAt(double elapsed) const;
};

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

    Layer* superlayer() const { return m_superlayer; }
    const std::vector<std::shared_ptr<Layer>>& sublayers() const { return m_sublayers; }
    void addSublayer(std::shared_ptr<Layer> layer);
    void removeFromSuperlayer();
    // Replaces the sublayer list (an empty list removes them all).
    void setSublayers(std::vector<std::shared_ptr<Layer>> layers);

    void addAnimation(std::shared_ptr<KeyframeAnimation> animation, const std::string& key);
    KeyframeAnimation* animationForKey(const std::string& key) const;
    void removeAnimationForKey(const std::string& key);
    std::vector<std::string> animationKeys() const;

    // What to show at the run loop's time `now`.
    Transform3D presentationTransform(double now) const;
    // Whether an animation of this layer or a sublayer still runs at `now`.
    bool isAnimating(double now) const;

    // The sublayers, one line each, indented by depth: frame, contents size,
    // transform, running animations by key.
    std::string describeSublayers(int depth) const;

    // Called on the root layer after any change in its tree (its view
    // redraws).
    std::function<void()> onChange;

private:
    struct Running {
        std::shared_ptr<KeyframeAnimation> animation;
        std::shared_ptr<Timer> end;
    };
    void changed();
    void animationEnded(const std::string& key, const KeyframeAnimation* animation);

    Rect m_frame;
    std::shared_ptr<const Image> m_contents;
    Transform3D m_transform;
    Layer* m_superlayer { nullptr };
    std::vector<std::shared_ptr<Layer>> m_sublayers;
    std::map<std::string, Running> m_animations;
};

} // namespace kit
