#pragma once
// A one-line text entry. Typing goes to the field that is first responder;
// the return key asks the delegate (not held) what to do.
#include "kit/View.h"

namespace kit {

class TextField;

class TextFieldDelegate {
public:
    virtual ~TextFieldDelegate() = default;
    virtual bool textFieldShouldReturn(TextField&) { return true; }
    // The text changed (typing, deleting, or setText).
    virtual void textFieldDidChange(TextField&) { }
};

class TextField : public View {
public:
    using View::View;
    std::string className() const override { return "UITextField"; }
    std::string displayText() const override { return m_text.empty() ? m_placeholder : m_text; }

    const std::string& text() const { return m_text; }
    void setText(std::string text);
    const std::string& placeholder() const { return m_placeholder; }
    void setPlaceholder(std::string placeholder);
    const Font& font() const { return m_font; }
    void setFont(const Font& font);
    void setDelegate(TextFieldDelegate* delegate) { m_delegate = delegate; }
    TextFieldDelegate* delegate() const { return m_delegate; }

    bool becomeFirstResponder();
    bool resignFirstResponder();
    bool isFirstResponder() const;
    static TextField* firstResponder();

    // Keyboard input.
    void insertText(const std::string& text);
    void deleteBackward();
    void pressReturn();
    ~TextField() override;

private:
    std::string m_text;
    std::string m_placeholder;
    Font m_font;
    TextFieldDelegate* m_delegate { nullptr };
};

} // namespace kit
