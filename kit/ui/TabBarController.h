#pragma once
// The tab bar: a row of items at the bottom of its view and the selected
// controller's view above it. Selecting a tab shows its controller, which then
// gets viewDidAppear; the first showing happens when the tab bar's view enters
// the window.
#include "kit/ui/Label.h"
#include "kit/ui/ViewController.h"

#include <vector>

namespace kit {

class TabBar : public View {
public:
    static constexpr float height = 49;
    using View::View;
    std::string className() const override { return "UITabBar"; }
    static constexpr ViewKind staticKind = ViewKind::TabBar;
    ViewKind kind() const override { return staticKind; }
    // A list of tabs named "Tabs", one element per item, the selected one marked.
    AccessibilityRole accessibilityRole() const override { return AccessibilityRole::TabList; }
    std::string accessibilityName() const override { return labelOr("Tabs"); }
    std::vector<AccessibilityElement> accessibilityElements() const override;
    bool activateElement(size_t index) override;
    // The items, the selected one marked: "Welcome | *Browse | Files".
    std::string displayText() const override;
    const std::vector<std::string>& itemTitles() const { return m_titles; }
    int selectedIndex() const { return m_selected; }
    void setItems(std::vector<std::string> titles, int selected);
    std::function<void(int)> onSelect;
    void touchesEnded(Point p) override;

private:
    std::vector<std::string> m_titles;
    int m_selected { 0 };
};

class TabBarController : public ViewController {
public:
    std::string className() const override { return "UITabBarController"; }
    TabBarController* asTabBarController() override { return this; }

    void setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers);
    const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return m_controllers; }
    int selectedIndex() const { return m_selected; }
    void setSelectedIndex(int index);
    ViewController* selectedViewController() const;
    const std::shared_ptr<TabBar>& tabBar() const { return m_tabBar; }

    void loadView() override;

private:
    void show(int index);
    void refreshBar();

    std::vector<std::shared_ptr<ViewController>> m_controllers;
    int m_selected { 0 };
    int m_shown { -1 };
    std::shared_ptr<View> m_content;
    std::shared_ptr<TabBar> m_tabBar;
};

} // namespace kit
