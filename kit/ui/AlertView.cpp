#include "kit/ui/AlertView.h"

#include "kit/ui/TextField.h"

namespace kit {

std::shared_ptr<AlertView> AlertView::create(std::string title, std::string message, std::weak_ptr<AlertViewDelegate> delegate,
    std::optional<std::string> cancelButtonTitle, std::vector<std::string> otherButtonTitles)
{
    auto alert = std::make_shared<AlertView>();
    alert->m_title = std::move(title);
    alert->m_message = std::move(message);
    alert->m_delegate = std::move(delegate);
    if (cancelButtonTitle) {
        alert->m_buttons.push_back(*cancelButtonTitle);
        alert->m_cancelIndex = 0;
    }
    for (auto& t : otherButtonTitles)
        alert->m_buttons.push_back(std::move(t));
    return alert;
}

int AlertView::addButtonWithTitle(std::string title)
{
    m_buttons.push_back(std::move(title));
    return int(m_buttons.size()) - 1;
}

void AlertView::addSubview(std::shared_ptr<View> view)
{
    if (view)
        m_subviews.push_back(std::move(view));
}

std::shared_ptr<TextField> AlertView::addEntryField(std::string accessibilityLabel)
{
    auto field = View::create<TextField>(Rect { 20, 50, 245, 25 });
    field->setBackgroundColor(Color::white());
    field->setAccessibilityLabel(std::move(accessibilityLabel));
    addSubview(field);
    setTransform(Transform::translation(0, 100));
    return field;
}

TextField* AlertView::textField() const
{
    for (auto& v : m_subviews)
        if (auto* field = dynamic_cast<TextField*>(v.get()))
            return field;
    return nullptr;
}

void AlertView::clicked(int index)
{
    if (auto delegate = m_delegate.lock())
        delegate->alertViewClickedButtonAtIndex(*this, index);
}

} // namespace kit
