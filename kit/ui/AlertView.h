#pragma once
// A modal question. The cancel button, when there is one, has index 0; the
// other buttons follow from 1 in the order given. An alert may also be built
// empty and filled piece by piece (title, message, buttons in index order),
// and may hold views of its own, such as an entry field; it holds them while
// it exists.
#include "kit/gfx/Geometry.h"
#include "kit/ui/Popup.h"

#include <optional>

namespace kit {

class AlertView;
class View;

class AlertViewDelegate {
public:
    virtual ~AlertViewDelegate() = default;
    virtual void alertViewClickedButtonAtIndex(AlertView& alert, int index) = 0;
};

class AlertView : public Popup {
public:
    // The delegate is a weak link: not held, and not told once it has gone.
    static std::shared_ptr<AlertView> create(std::string title, std::string message, std::weak_ptr<AlertViewDelegate> delegate,
        std::optional<std::string> cancelButtonTitle, std::vector<std::string> otherButtonTitles);

    static std::shared_ptr<AlertView> create() { return std::make_shared<AlertView>(); }

    std::string className() const override { return "UIAlertView"; }
    void setTitle(std::string title) { m_title = std::move(title); }
    void setMessage(std::string message) { m_message = std::move(message); }
    // Returns the new button's index.
    int addButtonWithTitle(std::string title);
    // Views shown inside the alert, in alert coordinates.
    void addSubview(std::shared_ptr<View> view);
    const std::vector<std::shared_ptr<View>>& subviews() const override { return m_subviews; }
    TextField* textField() const override;
    // An entry field under the message (which leaves it a line of room),
    // named for a screen reader; the alert moves up to stay above the
    // keyboard. The caller sets its text or placeholder and its delegate.
    std::shared_ptr<TextField> addEntryField(std::string accessibilityLabel);
    const Transform& transform() const override { return m_transform; }
    void setTransform(const Transform& transform) { m_transform = transform; }

    void setDelegate(std::weak_ptr<AlertViewDelegate> delegate) { m_delegate = std::move(delegate); }
    std::shared_ptr<AlertViewDelegate> delegate() const { return m_delegate.lock(); }

protected:
    void clicked(int index) override;

private:
    std::weak_ptr<AlertViewDelegate> m_delegate;
    std::vector<std::shared_ptr<View>> m_subviews;
    Transform m_transform;
};

} // namespace kit
