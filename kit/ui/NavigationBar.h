#pragma once
// A navigation bar showing its top navigation item: the item's title centred
// (a Label subview) and its left button at the left edge (a BarButtonItemView
// subview). The bar holds its items; an item tells the bar that shows it of
// a new title or left button (through onChanged, which the bar owns).
#include "kit/ui/BarButtonItem.h"
#include "kit/ui/Label.h"
#include "kit/ui/View.h"

#include <optional>
#include <vector>

namespace kit {

class NavigationItem {
public:
    explicit NavigationItem(std::string title = {}) : m_title(std::move(title)) { }
    const std::string& title() const { return m_title; }
    void setTitle(std::string title);
    const std::shared_ptr<BarButtonItem>& leftBarButtonItem() const { return m_left; }
    void setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item);

    std::function<void()> onChanged;

private:
    std::string m_title;
    std::shared_ptr<BarButtonItem> m_left;
};

class NavigationBar : public View {
public:
    static constexpr float margin = 5;
    using View::View;
    ~NavigationBar() override;
    std::string className() const override { return "UINavigationBar"; }
    static constexpr ViewKind staticKind = ViewKind::NavigationBar;
    ViewKind kind() const override { return staticKind; }
    std::string displayText() const override;

    const std::vector<std::shared_ptr<NavigationItem>>& items() const { return m_items; }
    void setItems(std::vector<std::shared_ptr<NavigationItem>> items);
    NavigationItem* topItem() const { return m_items.empty() ? nullptr : m_items.back().get(); }

    BarStyle barStyle() const { return m_barStyle; }
    void setBarStyle(BarStyle style);
    const std::optional<Color>& tintColor() const { return m_tint; }
    void setTintColor(std::optional<Color> color);

    // The views that show the top item (null when there is none).
    Label* titleLabel() const { return m_titleLabel.lock().get(); }
    BarButtonItemView* leftButtonView() const { return m_leftView.lock().get(); }

private:
    void showTopItem();

    std::vector<std::shared_ptr<NavigationItem>> m_items;
    std::weak_ptr<Label> m_titleLabel;
    std::weak_ptr<BarButtonItemView> m_leftView;
    BarStyle m_barStyle { BarStyle::Default };
    std::optional<Color> m_tint;
};

} // namespace kit
