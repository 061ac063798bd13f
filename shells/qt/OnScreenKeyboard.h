#pragma once
// A phone shell's on-screen keyboard, asked directly over D-Bus: Qt 6.4's
// Wayland client speaks the text-input protocols v1 and v2, while the phone's
// compositor offers only v3, so Qt's own request never reaches the keyboard.
// The keyboard service (sm.puri.OSK0 at /sm/puri/OSK0 on the session bus)
// is told SetVisible(true) when a text field takes the keys and
// SetVisible(false) when it lets them go; its Visible property says what it
// did. The calls neither wait nor start a service: where no keyboard listens
// they come to nothing, and no error is shown or logged.
//
// The room the keyboard leaves comes as a smaller window (the compositor
// gives the keyboard its strip of the screen); AppWindow keeps the focused
// field inside it.
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace qtshell {

class OnScreenKeyboard : public QObject {
    Q_OBJECT
public:
    static constexpr const char* service = "sm.puri.OSK0";
    static constexpr const char* path = "/sm/puri/OSK0";
    static constexpr const char* interface = "sm.puri.OSK0";

    // On the bus given (the session bus; a test's private one).
    explicit OnScreenKeyboard(const QDBusConnection& bus);
    ~OnScreenKeyboard() override;

    // The keyboard the text fields ask (InputPanel.h), or null: main makes
    // one under a phone shell, or where the service is on the bus already.
    static OnScreenKeyboard* shared();
    static void setShared(OnScreenKeyboard* keyboard); // not held

    // Asks the keyboard to show or to go; a request it has already met is
    // not sent again.
    void setVisible(bool visible);
    bool requested() const { return m_requested; }
    // What the keyboard said last (its Visible property).
    bool isShown() const { return m_shown; }
    std::function<void(bool)> onShownChanged;

private slots:
    void propertiesChanged(const QString& interfaceName, const QVariantMap& changed, const QStringList& invalidated);

private:
    void setShown(bool shown);

    QDBusConnection m_bus;
    bool m_requested { false };
    bool m_sent { false };
    int m_pending { 0 }; // requests not yet answered
    bool m_shown { false };
};

} // namespace qtshell
