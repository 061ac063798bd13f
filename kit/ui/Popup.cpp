#include "kit/ui/Popup.h"

#include "kit/ui/Application.h"

namespace kit {

std::string Popup::buttonTitleAtIndex(int index) const
{
    if (index < 0 || index >= int(m_buttons.size()))
        return {};
    return m_buttons[size_t(index)];
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
