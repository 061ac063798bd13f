#pragma once
// Declarations of kit's gfx layer (geometry, drawing, fonts, images, layers, animations), for headers that
// only name them.

namespace kit {

class Animation;
class BasicAnimation;
class KeyframeAnimation;
class TransitionAnimation;
struct FlipFrame;
class AnimationSet;
struct ResolvedFont;
struct PositionedGlyph;
struct TextLine;
struct TextLayout;
class Fonts;
struct Point;
struct Size;
struct Rect;
struct Transform;
struct Transform3D;
struct Color;
struct Font;
class GraphicsContext;
class Image;
class Layer;
class Path;
struct DrawOperation;
class RecordingContext;

} // namespace kit
