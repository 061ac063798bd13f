#include "transfers/SpinnerLabel.h"

void SpinnerLabel::setTurning(bool turning)
{
    update(m_turning, turning);
}

bool SpinnerLabel::isTurning() const
{
    return m_turning && text().find_first_not_of(" \t\r\n") != std::string::npos;
}

kit::AccessibilityRole SpinnerLabel::accessibilityRole() const
{
    return isTurning() ? kit::AccessibilityRole::BusyIndicator : kit::AccessibilityRole::None;
}

std::string SpinnerLabel::accessibilityName() const
{
    return isTurning() ? "Busy" : "";
}

kit::AccessibilityState SpinnerLabel::accessibilityState() const
{
    kit::AccessibilityState state;
    state.busy = isTurning();
    return state;
}
