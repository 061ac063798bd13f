#pragma once
// A modal question. The cancel button, when there is one, has index 0; the
// other buttons follow from 1 in the order given.
#include "kit/Popup.h"

#include <optional>

namespace kit {

class AlertView;

class AlertViewDelegate {
public:
    virtual ~AlertViewDelegate() = default;
    virtual void alertViewClickedButtonAtIndex(AlertView& alert, int index) = 0;
};

class AlertView : public Popup {
public:
    // The delegate is not held: it must outlive the shown alert or clear itself with setDelegate(nullptr).
    static std::shared_ptr<AlertView> create(std::string title, std::string message, AlertViewDelegate* delegate,
        std::optional<std::string> cancelButtonTitle, std::vector<std::string> otherButtonTitles);

    std::string className() const override { return "UIAlertView"; }
    void setDelegate(AlertViewDelegate* delegate) { m_delegate = delegate; }
    AlertViewDelegate* delegate() const { return m_delegate; }

protected:
    void clicked(int index) override;

private:
    AlertViewDelegate* m_delegate { nullptr };
};

} // namespace kit
