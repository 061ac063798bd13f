#pragma once
// The label that shows the head of the client's status line: its turning
// mark ("|", "/", "-", "\"), which the cut puts there once a second. A person
// who sees it sees work going on; a screen reader hears that as a busy wheel,
// "Busy" while the client turns it, and nothing (no object) once it stops,
// instead of the bare character.
#include "kit/ui/Label.h"

class SpinnerLabel : public kit::Label {
public:
    using Label::Label;

    // Whether the client behind it is at work (running and not held); the
    // controller says so on every tick.
    void setTurning(bool turning);
    bool isTurning() const;

    kit::AccessibilityRole accessibilityRole() const override;
    std::string accessibilityName() const override;
    kit::AccessibilityState accessibilityState() const override;

private:
    bool m_turning { false };
};
