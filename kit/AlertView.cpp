#include "kit/AlertView.h"

namespace kit {

std::shared_ptr<AlertView> AlertView::create(std::string title, std::string message, AlertViewDelegate* delegate,
    std::optional<std::string> cancelButtonTitle, std::vector<std::string> otherButtonTitles)
{
    auto alert = std::make_shared<AlertView>();
    alert->m_title = std::move(title);
    alert->m_message = std::move(message);
    alert->m_delegate = delegate;
    if (cancelButtonTitle) {
        alert->m_buttons.push_back(*cancelButtonTitle);
        alert->m_cancelIndex = 0;
    }
    for (auto& t : otherButtonTitles)
        alert->m_buttons.push_back(std::move(t));
    return alert;
}

void AlertView::clicked(int index)
{
    if (m_delegate)
        m_delegate->alertViewClickedButtonAtIndex(*this, index);
}

} // namespace kit
