#include "kit/ui/ActionSheet.h"

namespace kit {

std::shared_ptr<ActionSheet> ActionSheet::create(std::string title, std::weak_ptr<ActionSheetDelegate> delegate,
    std::optional<std::string> cancelButtonTitle, std::optional<std::string> destructiveButtonTitle,
    std::vector<std::string> otherButtonTitles)
{
    auto sheet = std::make_shared<ActionSheet>();
    sheet->m_title = std::move(title);
    sheet->m_delegate = std::move(delegate);
    if (destructiveButtonTitle) {
        sheet->m_destructiveIndex = 0;
        sheet->m_buttons.push_back(std::move(*destructiveButtonTitle));
    }
    for (auto& t : otherButtonTitles)
        sheet->m_buttons.push_back(std::move(t));
    if (cancelButtonTitle) {
        sheet->m_cancelIndex = int(sheet->m_buttons.size());
        sheet->m_buttons.push_back(std::move(*cancelButtonTitle));
    }
    return sheet;
}

void ActionSheet::showInView(View&)
{
    show();
}

void ActionSheet::showFromToolbar(Toolbar&)
{
    show();
}

void ActionSheet::clicked(int index)
{
    if (auto delegate = m_delegate.lock())
        delegate->actionSheetClickedButtonAtIndex(*this, index);
}

} // namespace kit
