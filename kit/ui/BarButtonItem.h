#pragma once
// An item of a toolbar or a navigation bar: one of the system kinds (Done,
// Flexible Space, Refresh, Stop, Action) or a plain image button. An item is
// not a view; the bar that shows it makes a BarButtonItemView for it (a
// flexible space gets no view, only a share of the free width).
//
// The action is one stored callable, run on a tap while the item is enabled.
// An item may sit in one bar at a time; the bar learns of changes to the
// item's enabled state and image through onChanged, which it owns.
#include "kit/ui/Button.h"
#include "kit/gfx/Image.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kit {

enum class BarButtonSystemItem { Done, FlexibleSpace, Refresh, Stop, Action };
enum class BarButtonItemStyle { Plain, Bordered, Done };
enum class BarStyle { Default = 0, Black = 1, BlackTranslucent = 2 };

class BarButtonItem {
public:
    static std::shared_ptr<BarButtonItem> createSystem(BarButtonSystemItem kind, std::function<void()> action = {});
    // name: what the button is called where no picture is shown (the
    // headless dump); a display shows an empty button for a missing image.
    static std::shared_ptr<BarButtonItem> createImage(std::shared_ptr<const Image> image, std::string name,
        BarButtonItemStyle style, std::function<void()> action);

    const std::optional<BarButtonSystemItem>& systemItem() const { return m_system; }
    bool isFlexibleSpace() const { return m_system == BarButtonSystemItem::FlexibleSpace; }
    const std::shared_ptr<const Image>& image() const { return m_image; }
    BarButtonItemStyle style() const { return m_style; }
    // "Done", "Refresh", "Stop", "Action", or an image button's name.
    const std::string& title() const { return m_title; }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    void setAction(std::function<void()> action) { m_action = std::move(action); }
    bool hasAction() const { return bool(m_action); }
    // What a tap does: the action, if enabled.
    void sendAction();

    // The width the item takes in a bar (0 for a flexible space).
    float width() const;

    std::function<void()> onChanged;

private:
    std::optional<BarButtonSystemItem> m_system;
    std::shared_ptr<const Image> m_image;
    BarButtonItemStyle m_style { BarButtonItemStyle::Plain };
    std::string m_title;
    bool m_enabled { true };
    std::function<void()> m_action;
};

const char* barButtonSystemItemName(BarButtonSystemItem kind);

// The view a bar shows for one item. A tap runs the item's action; the view
// follows the item's enabled state.
class BarButtonItemView : public Button {
public:
    BarButtonItemView(Rect frame, std::shared_ptr<BarButtonItem> item);
    std::string className() const override { return "UIBarButtonItem"; }
    static constexpr ViewKind staticKind = ViewKind::BarButtonItemView;
    ViewKind kind() const override { return staticKind; }
    const std::shared_ptr<BarButtonItem>& item() const { return m_item; }
    // The item's state changed.
    void refresh();

private:
    std::shared_ptr<BarButtonItem> m_item;
};

} // namespace kit
