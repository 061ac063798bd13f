#pragma once
// A one-line text entry. Typing goes to the field that is first responder;
// the return key asks the delegate (not held) what to do.
#include "kit/ui/View.h"

namespace kit {

class TextField;

class TextFieldDelegate {
public:
    virtual ~TextFieldDelegate() = default;
    virtual bool textFieldShouldReturn(TextField&) { return true; }
    // The field has just become first responder.
    virtual void textFieldDidBeginEditing(TextField&) { }
    // The text changed (typing, deleting, or setText).
    virtual void textFieldDidChange(TextField&) { }
};

class TextField : public View {
public:
    using View::View;
    std::string className() const override { return "UITextField"; }
    static constexpr ViewKind staticKind = ViewKind::TextField;
    ViewKind kind() const override { return staticKind; }
    // Named by its placeholder, which says what goes in it.
    AccessibilityRole accessibilityRole() const override { return AccessibilityRole::TextField; }
    std::string accessibilityName() const override { return labelOr(m_placeholder); }
    std::string accessibilityValue() const override { return m_text; }
    AccessibilityState accessibilityState() const override;
    bool keepsOwnTouches() const override { return true; }
    std::string displayText() const override { return m_text.empty() ? m_placeholder : m_text; }

    const std::string& text() const { return m_text; }
    void setText(std::string text);
    const std::string& placeholder() const { return m_placeholder; }
    void setPlaceholder(std::string placeholder);
    const Font& font() const { return m_font; }
    void setFont(const Font& font);
    // A weak link: not held, and not told once it has gone.
    void setDelegate(std::weak_ptr<TextFieldDelegate> delegate) { m_delegate = std::move(delegate); }
    std::shared_ptr<TextFieldDelegate> delegate() const { return m_delegate.lock(); }

    // Focus lives in the window (kit/ui/Window.h): the field's own window,
    // or the key window for a field shown over it in a popup. A field with
    // neither cannot take focus (false).
    bool becomeFirstResponder();
    bool resignFirstResponder();
    bool isFirstResponder() const;
    // The key window's first responder, if any.
    static TextField* firstResponder();

    // The selected part of the text, in bytes (whole UTF-8 characters);
    // empty for none. Typing replaces it and deleting removes it; setText
    // drops it.
    struct Selection {
        size_t start { 0 };
        size_t length { 0 };
        bool operator==(const Selection&) const = default;
    };
    const Selection& selection() const { return m_selection; }
    std::string selectedText() const { return m_text.substr(m_selection.start, m_selection.length); }
    // Clamped to the text.
    void setSelection(size_t start, size_t length);

    // Keyboard input.
    void insertText(const std::string& text);
    void deleteBackward();
    void pressReturn();

private:
    Selection m_selection;
    std::string m_text;
    std::string m_placeholder;
    Font m_font;
    std::weak_ptr<TextFieldDelegate> m_delegate;
};

} // namespace kit
