#pragma once
// A toolbar: a row of bar button items, laid out from the left with a margin;
// flexible spaces share the width the other items leave. Each item other than
// a space is shown by a BarButtonItemView subview, made anew by setItems; the
// toolbar holds its items. Its own subviews besides those are left alone.
#include "kit/ui/BarButtonItem.h"
#include "kit/ui/View.h"

#include <optional>
#include <vector>

namespace kit {

class Toolbar : public View {
public:
    static constexpr float margin = 6, spacing = 10;
    using View::View;
    ~Toolbar() override;
    std::string className() const override { return "UIToolbar"; }
    static constexpr ViewKind staticKind = ViewKind::Toolbar;
    ViewKind kind() const override { return staticKind; }
    std::string displayText() const override;

    const std::vector<std::shared_ptr<BarButtonItem>>& items() const { return m_items; }
    void setItems(std::vector<std::shared_ptr<BarButtonItem>> items);
    // The view that shows an item; null for a flexible space or an item not here.
    BarButtonItemView* viewForItem(const BarButtonItem& item) const;

    BarStyle barStyle() const { return m_barStyle; }
    void setBarStyle(BarStyle style);
    const std::optional<Color>& tintColor() const { return m_tint; }
    void setTintColor(std::optional<Color> color);

protected:
    // The items keep their order and widths; the flexible spaces take the new width.
    void layoutSubviews() override;

private:
    void layoutItems();
    // The frame of each item's view, in item order (flexible spaces have none).
    std::vector<Rect> itemFrames() const;
    void releaseItems();

    std::vector<std::shared_ptr<BarButtonItem>> m_items;
    std::vector<std::weak_ptr<BarButtonItemView>> m_itemViews;
    BarStyle m_barStyle { BarStyle::Default };
    std::optional<Color> m_tint;
};

} // namespace kit
