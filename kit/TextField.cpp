#include "kit/TextField.h"

namespace kit {

namespace {
TextField* g_first = nullptr;
}

TextField::~TextField()
{
    if (g_first == this)
        g_first = nullptr;
}

void TextField::setText(std::string text)
{
    if (text == m_text)
        return;
    update(m_text, std::move(text));
    if (m_delegate) {
        auto keep = weak_from_this().lock();
        m_delegate->textFieldDidChange(*this);
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

bool TextField::becomeFirstResponder()
{
    g_first = this;
    changed(ViewProperty::Content);
    return true;
}

bool TextField::resignFirstResponder()
{
    if (g_first == this) {
        g_first = nullptr;
        changed(ViewProperty::Content);
    }
    return true;
}

bool TextField::isFirstResponder() const { return g_first == this; }
TextField* TextField::firstResponder() { return g_first; }

void TextField::insertText(const std::string& text)
{
    setText(m_text + text);
}

void TextField::deleteBackward()
{
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
    if (m_delegate)
        m_delegate->textFieldShouldReturn(*this);
}

} // namespace kit
