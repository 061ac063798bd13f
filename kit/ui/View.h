#pragma once
// A view of the model view tree. Views are shared objects: a parent holds its
// subviews; a subview's link to its parent is not held and is cleared by the
// parent when it lets the subview go (also in the parent's destructor).
// Controllers refer to the views of their tree; the tree keeps them alive.
//
// Views are made by View::create<T>(...), which makes them shared. A view made
// otherwise (on the stack, in a unique_ptr) still works: the calls that keep
// a view alive across a callback then simply do not hold it.
//
// Every visible change is reported to the platform's view observers
// (Platform::addViewObserver), so displays follow the model piece by piece: a
// property change names the property; a subview change names the subview and
// its index (a move is a removal, then an insertion).
//
// Layout follows the superview the handheld's way: when a view's size
// changes and it autoresizes its subviews, each subview's autoresizing mask
// says which of its parts (left margin, width, right margin; top margin,
// height, bottom margin) take the change; the flexible parts share it in
// proportion to their current sizes (evenly when all of them are zero).
// Then the view lays itself out (layoutSubviews). A view without a mask keeps
// its frame.
#include "kit/gfx/Animation.h"
#include "kit/gfx/Geometry.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kit {

class View;
class Window;

enum class ViewProperty {
    Frame,
    Alpha,
    Hidden,
    BackgroundColor,
    Transform,
    Tag,
    Subviews,
    Content, // text, title, image, or anything a subclass draws
    Animations, // an animation was attached, removed, or has run its course
};

// Which parts of a view's frame follow its superview's size; an OR of these.
using AutoresizingMask = unsigned;
enum ViewAutoresizing : AutoresizingMask {
    ViewAutoresizingNone = 0,
    ViewAutoresizingFlexibleLeftMargin = 1 << 0,
    ViewAutoresizingFlexibleWidth = 1 << 1,
    ViewAutoresizingFlexibleRightMargin = 1 << 2,
    ViewAutoresizingFlexibleTopMargin = 1 << 3,
    ViewAutoresizingFlexibleHeight = 1 << 4,
    ViewAutoresizingFlexibleBottomMargin = 1 << 5,
};
// Both sizes follow; the view fills what its superview gives it.
constexpr AutoresizingMask ViewAutoresizingFlexibleSize = ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight;
// All four margins follow: the view keeps its size and its place in proportion (centred stays centred).
constexpr AutoresizingMask ViewAutoresizingFlexibleMargins = ViewAutoresizingFlexibleLeftMargin | ViewAutoresizingFlexibleRightMargin
    | ViewAutoresizingFlexibleTopMargin | ViewAutoresizingFlexibleBottomMargin;

// What a view is to a person using a screen reader or the keyboard. Each view
// class answers for itself (View's accessibility virtuals); shells map the
// answers onto their platform's accessibility, and kit names nothing of theirs.
enum class AccessibilityRole {
    None,          // no object of its own (a panel, a filler): a screen reader meets its subviews
    Button,
    Link,
    StaticText,
    List,
    ListItem,
    ProgressBar,
    TextField,     // one line to type into
    TextArea,      // a block of text, read-only unless editable
    Document,      // a web page
    BusyIndicator, // work going on
    TabList,
    Tab,
};

struct AccessibilityState {
    bool disabled { false };
    bool focusable { false }; // the keyboard stops on it
    bool selectable { false };
    bool selected { false };
    bool busy { false };
    bool editable { false };
    bool readOnly { false };
    bool operator==(const AccessibilityState&) const = default;
};

// A part of a view that is not a view of its own (an item of the tab bar).
struct AccessibilityElement {
    std::string name;
    AccessibilityRole role { AccessibilityRole::None };
    AccessibilityState state;
    Rect frame; // in the view's own coordinates
};

// Which peer a display makes for a view: the kit class it is or derives
// from. Views of the application's own classes are shown as their kit base is.
enum class ViewKind {
    View,
    ActivityIndicatorView,
    BarButtonItemView,
    Button,
    DrawingView,
    Label,
    NavigationBar,
    ProgressView,
    TabBar,
    TableView,
    TableViewCell,
    TextField,
    TextView,
    Toolbar,
    WebView,
    Window,
};

// The key path under which a property is animated ("frame", "alpha",
// "transform", "backgroundColor"; empty for the others).
const char* animationKeyPath(ViewProperty property);

class ViewObserver {
public:
    virtual ~ViewObserver() = default;
    virtual void viewChanged(View& view, ViewProperty property) = 0;
    virtual void viewDestroyed(View& view) = 0;
    // `child` now sits at `index` among parent's subviews.
    virtual void subviewInserted(View& parent, View& child, size_t index);
    // `child` left parent's subviews from `index` (the order before the removal).
    virtual void subviewRemoved(View& parent, View& child, size_t index);
    // A transition of `view` is being set up: what a display shows of it now
    // is the picture it turns away from. The default does nothing.
    virtual void transitionWillBegin(View& view);
};

class View : public std::enable_shared_from_this<View> {
public:
    template<typename T = View, typename... Args>
    static std::shared_ptr<T> create(Args&&... args)
    {
        return std::make_shared<T>(std::forward<Args>(args)...);
    }

    View() = default;
    explicit View(Rect frame) : m_frame(frame) { }
    virtual ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    virtual std::string className() const { return "UIView"; }
    static constexpr ViewKind staticKind = ViewKind::View;
    virtual ViewKind kind() const { return staticKind; }
    // The text a view shows, for the headless dump.
    virtual std::string displayText() const { return {}; }

    // Accessibility: what the view is to a person, asked anew each time.
    // A plain view is no object of its own; the kit classes say what they are.
    virtual AccessibilityRole accessibilityRole() const { return AccessibilityRole::None; }
    // What a screen reader calls it: the label when one is set, else the
    // words the view shows (empty: it has nothing to say).
    virtual std::string accessibilityName() const { return m_accessibilityLabel; }
    // What it holds beside its name (a field's text, a bar's percentage).
    virtual std::string accessibilityValue() const { return {}; }
    virtual AccessibilityState accessibilityState() const { return {}; }
    // How far a bar has come, 0 to 1; none for other views.
    virtual std::optional<float> accessibilityProgress() const { return std::nullopt; }
    // Pieces it shows that are no views of their own (a tab bar's items), in order.
    virtual std::vector<AccessibilityElement> accessibilityElements() const { return {}; }
    // Whether a tap does something that the keyboard or a screen reader may
    // ask for instead (a button's action, a row's selection, a link).
    virtual bool canActivate() const { return false; }
    // Does what a tap does; false where nothing happened.
    virtual bool activate() { return false; }
    virtual bool activateElement(size_t) { return false; }
    // What a screen reader calls it where the words it shows do not say (a
    // "›", a bare number); empty: the view's own words.
    const std::string& accessibilityLabel() const { return m_accessibilityLabel; }
    void setAccessibilityLabel(std::string label);
    // A screen shown over others (a presented controller's): while it is
    // shown, a screen reader meets it and not the views it covers.
    bool accessibilityViewIsModal() const { return m_accessibilityModal; }
    void setAccessibilityViewIsModal(bool modal) { m_accessibilityModal = modal; }

    const Rect& frame() const { return m_frame; }
    void setFrame(const Rect& frame);
    Rect bounds() const { return { 0, 0, m_frame.width(), m_frame.height() }; }
    Point center() const { return { m_frame.x() + m_frame.width() / 2, m_frame.y() + m_frame.height() / 2 }; }
    void setCenter(Point center);
    int tag() const { return m_tag; }
    void setTag(int tag);
    float alpha() const { return m_alpha; }
    void setAlpha(float alpha);
    bool isHidden() const { return m_hidden; }
    void setHidden(bool hidden);
    const Color& backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(const Color& color);
    const Transform& transform() const { return m_transform; }
    void setTransform(const Transform& transform);
    bool isUserInteractionEnabled() const { return m_userInteraction; }
    void setUserInteractionEnabled(bool enabled) { m_userInteraction = enabled; }
    bool clipsToBounds() const { return m_clips; }
    void setClipsToBounds(bool clips) { m_clips = clips; }
    AutoresizingMask autoresizingMask() const { return m_autoresizingMask; }
    void setAutoresizingMask(AutoresizingMask mask) { m_autoresizingMask = mask; }
    bool autoresizesSubviews() const { return m_autoresizesSubviews; }
    void setAutoresizesSubviews(bool autoresizes) { m_autoresizesSubviews = autoresizes; }
    // Applies this view's mask to its frame after its superview's size went
    // from oldSuperviewSize to the size it has now.
    void resizeWithOldSuperviewSize(Size oldSuperviewSize);
    // Applies the subviews' masks after this view's size was oldSize.
    void resizeSubviewsWithOldSize(Size oldSize);

    // Tree.
    View* superview() const { return m_superview; }
    const std::vector<std::shared_ptr<View>>& subviews() const { return m_subviews; }
    void addSubview(std::shared_ptr<View> view);
    void insertSubview(std::shared_ptr<View> view, size_t index);
    void removeFromSuperview();
    void bringSubviewToFront(View& view);
    void sendSubviewToBack(View& view);
    View* viewWithTag(int tag);
    Window* window() const;
    bool isDescendantOf(const View& other) const;
    // Frame of this view in the coordinates of an ancestor (or of the root):
    // the box around it, through every transform on the way (a transform
    // acts about its view's centre).
    Rect convertToAncestor(const View* ancestor) const;
    // A point of an ancestor's coordinates (or of the root's), in this view's
    // own; nullopt when a transform on the way cannot be undone.
    std::optional<Point> convertFromAncestor(Point point, const View* ancestor) const;
    // For touches already on this view: the same, with the view's centre for
    // a view since scaled to nothing.
    Point touchPoint(Point point, const View* ancestor) const;
    // A point of this view's own coordinates, in its superview's.
    Point convertToSuperview(Point point) const;
    // A point of the superview's coordinates, in this view's own; nullopt
    // when the transform cannot be undone (a view scaled to nothing).
    std::optional<Point> convertFromSuperview(Point point) const;

    // Touches, in this view's own coordinates. The default passes nothing on.
    virtual void touchesBegan(Point) { }
    virtual void touchesMoved(Point) { }
    virtual void touchesEnded(Point) { }
    virtual void touchesCancelled() { }
    // The deepest visible, interactive view containing the point (own coordinates).
    View* hitTest(Point point);
    // A control that takes its own touches even inside a table's row (a
    // button, a text field); other views in a row hand theirs to the table.
    virtual bool keepsOwnTouches() const { return false; }

    // Animations attached to this view under a key (kit/gfx/Animation.h). View
    // animation blocks (kit/ui/ViewAnimation.h) attach theirs under the key path.
    void addAnimation(std::shared_ptr<Animation> animation, const std::string& key) { m_animations.add(std::move(animation), key); }
    Animation* animationForKey(const std::string& key) const { return m_animations.forKey(key); }
    void removeAnimationForKey(const std::string& key) { m_animations.remove(key); }
    std::vector<std::string> animationKeys() const { return m_animations.keys(); }
    const AnimationSet& animations() const { return m_animations; }
    // The value a display shows for an animated property at `now`; nullopt
    // when no animation of it is attached.
    std::optional<AnimatedValue> presentationValue(ViewProperty property, double now) const;

    // Hook for an owner (a controller) to learn that the view entered a window.
    std::function<void()> onMovedToWindow;

    // Tells the platform's view observers that a property changed.
    void changed(ViewProperty property);

protected:
    // The label when one is set, else `own`.
    std::string labelOr(std::string own) const { return m_accessibilityLabel.empty() ? std::move(own) : m_accessibilityLabel; }
    // This view held for the length of a call (a callback may drop it), or
    // null for a view that create() did not make.
    std::shared_ptr<View> retain() { return weak_from_this().lock(); }
    // Sets a displayed field and tells the shells, only when the value changes.
    template<typename T, typename V>
    void update(T& field, V&& value, ViewProperty property = ViewProperty::Content)
    {
        if (field == value)
            return;
        field = std::forward<V>(value);
        changed(property);
    }
    virtual void didMoveToWindow();
    // Called after the view's size changed and its subviews' masks were
    // applied: a view that places its subviews itself does it here.
    virtual void layoutSubviews() { }

private:
    void detachChild(View& child);
    void subviewInserted(View& child, size_t index);
    void subviewRemoved(View& child, size_t index);
    void notifyMovedToWindow();

    Rect m_frame;
    int m_tag { 0 };
    float m_alpha { 1 };
    bool m_hidden { false };
    bool m_userInteraction { true };
    bool m_clips { false };
    bool m_autoresizesSubviews { true };
    bool m_accessibilityModal { false };
    std::string m_accessibilityLabel;
    AutoresizingMask m_autoresizingMask { ViewAutoresizingNone };
    Color m_backgroundColor { Color::clear() };
    Transform m_transform;
    View* m_superview { nullptr };
    std::vector<std::shared_ptr<View>> m_subviews;
    AnimationSet m_animations { [this] { changed(ViewProperty::Animations); } };
};

} // namespace kit
