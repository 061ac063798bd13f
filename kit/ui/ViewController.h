#pragma once
// A screen's controller. Its view is made on first use (loadView, then
// viewDidLoad). A controller presented modally is held by its presenter until
// dismissed; the presented controller's link back is not held.
#include "kit/ui/View.h"

#include <memory>
#include <string>

namespace kit {

class TabBarController;

class ViewController : public std::enable_shared_from_this<ViewController> {
public:
    ViewController() = default;
    virtual ~ViewController();
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    virtual std::string className() const { return "UIViewController"; }

    View& view();
    std::shared_ptr<View> viewPointer();
    bool isViewLoaded() const { return m_view != nullptr; }

    const std::string& title() const { return m_title; }
    void setTitle(std::string title) { m_title = std::move(title); }

    // Platform events.
    virtual void loadView();
    virtual void viewDidLoad() { }
    virtual void awakeFromNib() { }
    virtual void viewWillAppear(bool) { }
    virtual void viewDidAppear(bool) { }
    virtual void viewWillDisappear(bool) { }
    virtual void viewDidDisappear(bool) { }
    virtual void didReceiveMemoryWarning() { }

    // Modal presentation: the presented screen covers the application frame.
    void presentModalViewController(std::shared_ptr<ViewController> controller, bool animated);
    void dismissModalViewControllerAnimated(bool animated);
    ViewController* modalViewController() const { return m_modal.get(); }
    ViewController* parentViewController() const { return m_parent; }
    // The nearest tab bar controller among the parents, or null.
    TabBarController* tabBarController() const;
    // This controller as a tab bar controller, when it is one.
    virtual TabBarController* asTabBarController() { return nullptr; }

protected:
    void setView(std::shared_ptr<View> view);

private:
    friend class TabBarController;
    std::shared_ptr<View> m_view;
    std::string m_title;
    std::shared_ptr<ViewController> m_modal;
    ViewController* m_parent { nullptr };
};

} // namespace kit
