#pragma once
// A screen's root view that lays its screen out again whenever its size
// changes, for screens whose arrangement the masks alone cannot make.
#include "kit/ui/View.h"

#include <functional>

namespace kit {

class LaidOutView : public View {
public:
    using View::View;
    std::function<void()> onLayout;
    void layoutSubviews() override
    {
        if (onLayout)
            onLayout();
    }
};

} // namespace kit
