#include "kit/Window.h"

namespace kit {

void Window::makeKeyAndVisible()
{
    m_key = true;
    setHidden(false);
}

View* Window::frontView() const
{
    auto& subs = subviews();
    for (auto it = subs.rbegin(); it != subs.rend(); ++it)
        if (!(*it)->isHidden())
            return it->get();
    return nullptr;
}

} // namespace kit
