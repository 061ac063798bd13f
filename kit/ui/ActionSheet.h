#pragma once
// A modal choice among buttons shown over a view. Button indexes: the
// destructive button first (index 0) when there is one, then the other buttons
// in the order given, then the cancel button last.
#include "kit/ui/Popup.h"

#include <optional>

namespace kit {

class ActionSheet;
class Toolbar;
class View;

class ActionSheetDelegate {
public:
    virtual ~ActionSheetDelegate() = default;
    virtual void actionSheetClickedButtonAtIndex(ActionSheet& sheet, int index) = 0;
};

enum class ActionSheetStyle { Default = 0, BlackTranslucent = 1, BlackOpaque = 2 };

class ActionSheet : public Popup {
public:
    // The delegate is a weak link: not held, and not told once it has gone.
    static std::shared_ptr<ActionSheet> create(std::string title, std::weak_ptr<ActionSheetDelegate> delegate,
        std::optional<std::string> cancelButtonTitle, std::optional<std::string> destructiveButtonTitle,
        std::vector<std::string> otherButtonTitles);

    std::string className() const override { return "UIActionSheet"; }
    void setDelegate(std::weak_ptr<ActionSheetDelegate> delegate) { m_delegate = std::move(delegate); }
    std::shared_ptr<ActionSheetDelegate> delegate() const { return m_delegate.lock(); }
    bool isSheet() const override { return true; }
    int destructiveButtonIndex() const override { return m_destructiveIndex; }
    ActionSheetStyle actionSheetStyle() const { return m_style; }
    void setActionSheetStyle(ActionSheetStyle style) { m_style = style; }

    // Shows the sheet over the view (the sheet is on the application's popup stack).
    void showInView(View& view);
    // Shows the sheet from a toolbar at the foot of the screen.
    void showFromToolbar(Toolbar& toolbar);

protected:
    void clicked(int index) override;

private:
    std::weak_ptr<ActionSheetDelegate> m_delegate;
    int m_destructiveIndex { -1 };
    ActionSheetStyle m_style { ActionSheetStyle::Default };
};

} // namespace kit
