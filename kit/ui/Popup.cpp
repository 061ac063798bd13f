#include "kit/ui/Popup.h"

#include "kit/ui/Application.h"

namespace kit {

std::string Popup::buttonTitleAtIndex(int index) const
{
    if (index < 0 || index >= int(m_buttons.size()))
        return {};
    return m_buttons[size_t(index)];
}

int Popup::preferredButtonIndex() const
{
    const int count = numberOfButtons();
    if (m_preferredIndex >= 0 && m_preferredIndex < count)
        return m_preferredIndex;
    if (m_cancelIndex >= 0 && m_cancelIndex < count)
        return m_cancelIndex;
    return count - 1;
}

const std::vector<std::shared_ptr<View>>& Popup::subviews() const
{
    static const std::vector<std::shared_ptr<View>> none;
    return none;
}

const Transform& Popup::transform() const
{
    static const Transform identity;
    return identity;
}

void Popup::show()
{
    if (m_visible)
        return;
    m_visible = true;
    Application::shared().pushPopup(shared_from_this());
}

void Popup::dismissWithClickedButtonIndex(int index, bool)
{
    if (!m_visible)
        return;
    auto keep = shared_from_this(); // the stack's hold ends here; ours lasts the call
    m_visible = false;
    Application::shared().removePopup(*this);
    clicked(index);
}

} // namespace kit
