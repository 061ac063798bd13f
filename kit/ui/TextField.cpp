#include "kit/ui/TextField.h"

#include "kit/ui/Window.h"

#include <algorithm>

namespace kit {

void TextField::setText(std::string text)
{
    if (text == m_text)
        return;
    m_selection = {};
    update(m_text, std::move(text));
    if (auto delegate = m_delegate.lock()) {
        auto keep = weak_from_this().lock();
        delegate->textFieldDidChange(*this);
    }
}

void TextField::setPlaceholder(std::string placeholder)
{
    update(m_placeholder, std::move(placeholder));
}

void TextField::setFont(const Font& font)
{
    update(m_font, font);
}

namespace {
// The window that holds this field's focus: its own, or the key window for a
// field shown over it (an alert's entry field).
Window* focusWindow(const TextField& field)
{
    if (auto* window = field.window())
        return window;
    return Window::keyWindow();
}
} // namespace

bool TextField::becomeFirstResponder()
{
    auto* window = focusWindow(*this);
    if (!window)
        return false;
    bool was = window->firstResponder() == this;
    window->setFirstResponder(this);
    bool is = window->firstResponder() == this;
    if (is && !was) {
        if (auto delegate = m_delegate.lock()) {
            auto keep = retain();
            delegate->textFieldDidBeginEditing(*this);
        }
    }
    return is;
}

bool TextField::resignFirstResponder()
{
    if (auto* window = focusWindow(*this); window && window->firstResponder() == this)
        window->setFirstResponder(nullptr);
    return true;
}

bool TextField::isFirstResponder() const
{
    auto* window = focusWindow(*this);
    return window && window->firstResponder() == this;
}

TextField* TextField::firstResponder()
{
    auto* window = Window::keyWindow();
    return window ? window->firstResponder() : nullptr;
}

void TextField::setSelection(size_t start, size_t length)
{
    start = std::min(start, m_text.size());
    length = std::min(length, m_text.size() - start);
    update(m_selection, Selection { start, length });
}

void TextField::insertText(const std::string& text)
{
    if (m_selection.length > 0) {
        auto replaced = m_text;
        replaced.replace(m_selection.start, m_selection.length, text);
        setText(std::move(replaced));
        return;
    }
    setText(m_text + text);
}

void TextField::deleteBackward()
{
    if (m_selection.length > 0)
        return insertText({});
    if (m_text.empty())
        return;
    // Whole UTF-8 characters.
    size_t i = m_text.size() - 1;
    while (i > 0 && (static_cast<unsigned char>(m_text[i]) & 0xC0) == 0x80)
        --i;
    setText(m_text.substr(0, i));
}

void TextField::pressReturn()
{
    auto keep = retain();
    if (auto delegate = m_delegate.lock())
        delegate->textFieldShouldReturn(*this);
}

AccessibilityState TextField::accessibilityState() const
{
    AccessibilityState state;
    state.focusable = true;
    state.editable = true;
    return state;
}

} // namespace kit
