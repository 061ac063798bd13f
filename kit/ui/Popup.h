#pragma once
// What alerts and action sheets share: a title, a message, buttons in index
// order, and their place on the application's stack of shown popups. A shown
// popup keeps itself alive (the stack holds it) until a button is pressed, so
// its creator may let go right after show().
//
// Button indexes are the caller's: each kind defines how its titles map to
// indexes; buttonTitles() lists them in index order.
#include "kit/gfx/Geometry.h"

#include <memory>
#include <string>
#include <vector>

namespace kit {

class TextField;
class View;

class Popup : public std::enable_shared_from_this<Popup> {
public:
    virtual ~Popup() = default;
    virtual std::string className() const = 0;

    const std::string& title() const { return m_title; }
    const std::string& message() const { return m_message; }
    const std::vector<std::string>& buttonTitles() const { return m_buttons; }
    int numberOfButtons() const { return int(m_buttons.size()); }
    std::string buttonTitleAtIndex(int index) const;
    int cancelButtonIndex() const { return m_cancelIndex; }
    bool isVisible() const { return m_visible; }
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    // The entry field a popup holds, if any (typing goes there first).
    virtual TextField* textField() const { return nullptr; }

    // What a display shows, whatever the kind: a sheet rises from the bottom,
    // an alert stands in the middle.
    virtual bool isSheet() const { return false; }
    // The button shown as destructive, or -1.
    virtual int destructiveButtonIndex() const { return -1; }
    // The button the keyboard starts on and Return presses: the one set, else
    // the cancel button (the handheld's marked one), else the last; -1
    // without buttons.
    int preferredButtonIndex() const;
    void setPreferredButtonIndex(int index) { m_preferredIndex = index; }
    // Views shown inside the popup, in its own coordinates (an alert's entry field).
    virtual const std::vector<std::shared_ptr<View>>& subviews() const;
    // How far the popup is moved from its place (an alert raised above the keyboard).
    virtual const Transform& transform() const;

    void show();
    // Closes the popup and reports the index to the delegate; an index
    // outside the buttons closes it and reports that index all the same.
    void dismissWithClickedButtonIndex(int index, bool animated);

protected:
    // Tells the delegate; called after the popup has left the stack.
    virtual void clicked(int index) = 0;

    std::string m_title;
    std::string m_message;
    std::vector<std::string> m_buttons;
    int m_cancelIndex { -1 };
    int m_preferredIndex { -1 };

private:
    bool m_visible { false };
    int m_tag { 0 };
};

} // namespace kit
