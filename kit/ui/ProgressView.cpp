#include "kit/ui/ProgressView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kit {

std::string ProgressView::displayText() const
{
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", double(m_progress));
    return text;
}

void ProgressView::setProgress(float progress)
{
    if (!std::isfinite(progress))
        progress = 0;
    update(m_progress, std::clamp(progress, 0.0f, 1.0f));
}

std::string ProgressView::accessibilityValue() const
{
    return std::to_string(int(std::floor(m_progress * 100))) + "%";
}

} // namespace kit
