#include "shells/qt/PhoneShell.h"

#include "kit/ui/Window.h"

#include <QString>
#include <QStringList>

#include <cstdlib>

namespace qtshell {

namespace {
bool g_active = false;

std::string environmentVariable(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}
} // namespace

bool PhoneShell::detect(const std::function<std::string(const char*)>& variable)
{
    auto value = [&](const char* name) { return QString::fromStdString(variable ? variable(name) : environmentVariable(name)); };
    const QString forced = value("QUORVANE_PHONE_SHELL").trimmed();
    if (forced == QLatin1String("1"))
        return true;
    if (forced == QLatin1String("0"))
        return false;
    // phosh's session names it first ("Phosh:GNOME"); Plasma Mobile's says
    // KDE there and the form factor in PLASMA_PLATFORM ("phone:handheld").
    for (const auto& desktop : value("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (desktop.compare(QLatin1String("Phosh"), Qt::CaseInsensitive) == 0
            || desktop.compare(QLatin1String("Plasma-Mobile"), Qt::CaseInsensitive) == 0)
            return true;
    return value("PLASMA_PLATFORM").startsWith(QLatin1String("phone"));
}

void PhoneShell::setActive(bool active)
{
    g_active = active;
    kit::Window::setStatusBarHidden(active);
}

void PhoneShell::prepare()
{
    setActive(detect());
    if (!g_active)
        return;
    // Qt's Wayland client asks for the compositor's decoration where it is
    // offered (xdg-decoration) and otherwise draws its own; on a phone none
    // is wanted. A caller's own choice stands.
    ::setenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1", 0);
}

bool PhoneShell::isActive() { return g_active; }

} // namespace qtshell
