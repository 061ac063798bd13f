#include "kit/ui/ViewController.h"

#include "kit/ui/Application.h"
#include "kit/ui/TabBarController.h"
#include "kit/ui/Window.h"

namespace kit {

ViewController::~ViewController()
{
    if (m_modal) {
        m_modal->m_parent = nullptr;
        if (m_modal->m_view)
            m_modal->m_view->removeFromSuperview();
    }
}

View& ViewController::view()
{
    return *viewPointer();
}

std::shared_ptr<View> ViewController::viewPointer()
{
    if (!m_view) {
        loadView();
        if (!m_view) {
            m_view = View::create(Rect { 0, 0, Window::width, Window::height - Window::statusBarHeight });
            m_view->setAutoresizingMask(ViewAutoresizingFlexibleSize);
        }
        viewDidLoad();
    }
    return m_view;
}

void ViewController::loadView()
{
    auto v = View::create(Rect { 0, 0, Window::width, Window::height - Window::statusBarHeight });
    v->setAutoresizingMask(ViewAutoresizingFlexibleSize);
    v->setBackgroundColor(Color::white());
    m_view = v;
}

void ViewController::setView(std::shared_ptr<View> view)
{
    m_view = std::move(view);
}

TabBarController* ViewController::tabBarController() const
{
    for (auto* c = m_parent; c; c = c->m_parent)
        if (auto* tabs = c->asTabBarController())
            return tabs;
    return nullptr;
}

void ViewController::presentModalViewController(std::shared_ptr<ViewController> controller, bool animated)
{
    if (!controller || m_modal)
        return;
    // A presented screen presents on top of itself.
    m_modal = controller;
    controller->m_parent = this;
    auto v = controller->viewPointer();
    // It covers the application frame, whatever size the screen takes while it is up.
    v->setAutoresizingMask(ViewAutoresizingFlexibleSize);
    v->setFrame(Window::applicationFrame());
    v->setAccessibilityViewIsModal(true);
    controller->viewWillAppear(animated);
    if (auto* window = Application::shared().keyWindow())
        window->addSubview(v);
    controller->viewDidAppear(animated);
}

void ViewController::dismissModalViewControllerAnimated(bool animated)
{
    // Sent to the presented screen, it is passed to its presenter.
    if (!m_modal) {
        if (m_parent && m_parent->m_modal.get() == this)
            m_parent->dismissModalViewControllerAnimated(animated);
        return;
    }
    auto modal = std::move(m_modal);
    m_modal.reset();
    if (modal->m_modal)
        modal->dismissModalViewControllerAnimated(animated);
    modal->viewWillDisappear(animated);
    if (modal->m_view)
        modal->m_view->removeFromSuperview();
    modal->viewDidDisappear(animated);
    modal->m_parent = nullptr;
}

} // namespace kit
