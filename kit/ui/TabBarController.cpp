#include "kit/ui/TabBarController.h"

#include "kit/ui/Window.h"

namespace kit {

void TabBar::setItems(std::vector<std::string> titles, int selected)
{
    m_titles = std::move(titles);
    m_selected = selected;
    changed(ViewProperty::Content);
}

std::string TabBar::displayText() const
{
    std::string out;
    for (size_t i = 0; i < m_titles.size(); ++i)
        out += (i ? " | " : "") + std::string(int(i) == m_selected ? "*" : "") + m_titles[i];
    return out;
}

void TabBar::touchesEnded(Point p)
{
    if (m_titles.empty() || !bounds().contains(p))
        return;
    int index = int(p.x / (frame().width() / float(m_titles.size())));
    if (onSelect)
        onSelect(index);
}

std::vector<AccessibilityElement> TabBar::accessibilityElements() const
{
    std::vector<AccessibilityElement> items;
    const float n = float(m_titles.size());
    for (size_t i = 0; i < m_titles.size(); ++i) {
        AccessibilityElement item { m_titles[i], AccessibilityRole::Tab, {}, {} };
        item.state.selectable = true;
        item.state.selected = int(i) == m_selected;
        // The same shares of the width that a tap goes by.
        const float x0 = frame().width() * float(i) / n, x1 = frame().width() * float(i + 1) / n;
        item.frame = { x0, 0, x1 - x0, frame().height() };
        items.push_back(std::move(item));
    }
    return items;
}

bool TabBar::activateElement(size_t index)
{
    if (index >= m_titles.size() || !onSelect)
        return false;
    auto keep = retain();
    onSelect(int(index));
    return true;
}

void TabBarController::loadView()
{
    auto root = View::create(Window::applicationFrame());
    const float contentHeight = root->frame().height() - TabBar::height;
    m_content = View::create(Rect { 0, 0, root->frame().width(), contentHeight });
    m_tabBar = View::create<TabBar>(Rect { 0, contentHeight, root->frame().width(), TabBar::height });
    m_tabBar->setBackgroundColor(Color::rgba(0.1f, 0.1f, 0.1f));
    // The bar spans the width at the bottom; the tab's screen takes the rest.
    root->setAutoresizingMask(ViewAutoresizingFlexibleSize);
    m_content->setAutoresizingMask(ViewAutoresizingFlexibleSize);
    m_tabBar->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleTopMargin);
    m_tabBar->onSelect = [this](int i) { setSelectedIndex(i); };
    root->addSubview(m_content);
    root->addSubview(m_tabBar);
    root->onMovedToWindow = [this] {
        if (m_shown < 0)
            show(m_selected);
    };
    setView(root);
    refreshBar();
}

void TabBarController::refreshBar()
{
    if (!m_tabBar)
        return;
    std::vector<std::string> titles;
    for (auto& c : m_controllers)
        titles.push_back(c->title());
    m_tabBar->setItems(std::move(titles), m_selected);
}

void TabBarController::setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers)
{
    for (auto& c : m_controllers)
        c->m_parent = nullptr;
    m_controllers = std::move(controllers);
    for (auto& c : m_controllers)
        c->m_parent = this;
    m_selected = 0;
    m_shown = -1;
    refreshBar();
}

ViewController* TabBarController::selectedViewController() const
{
    if (m_selected < 0 || m_selected >= int(m_controllers.size()))
        return nullptr;
    return m_controllers[size_t(m_selected)].get();
}

void TabBarController::setSelectedIndex(int index)
{
    if (index < 0 || index >= int(m_controllers.size()))
        return;
    m_selected = index;
    refreshBar();
    if (isViewLoaded() && view().window())
        show(index);
}

void TabBarController::show(int index)
{
    if (index == m_shown)
        return;
    auto keep = shared_from_this();
    if (m_shown >= 0 && m_shown < int(m_controllers.size())) {
        auto& old = m_controllers[size_t(m_shown)];
        old->viewWillDisappear(false);
        old->view().removeFromSuperview();
        old->viewDidDisappear(false);
    }
    m_shown = index;
    auto& next = m_controllers[size_t(index)];
    auto v = next->viewPointer();
    v->setAutoresizingMask(ViewAutoresizingFlexibleSize);
    v->setFrame(m_content->bounds());
    next->viewWillAppear(false);
    m_content->addSubview(v);
    next->viewDidAppear(false);
}

} // namespace kit
