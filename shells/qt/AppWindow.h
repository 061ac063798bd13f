#pragma once
// The application window: 320 x 480 points (Qt scales points for dense
// screens), the kit window's tree drawn by peers, the status bar over its
// top 20 points, popups over everything, and the notice shown while the
// application waits for its transfer to stop.
//
// Closing the window is the handheld's "leaving the application": the window
// goes, the application is sent its suspend request (Quorvane answers with
// nothing), and the process and its transfer go on. showAgain() brings the
// window back (a second start, the tray icon).
#include "kit/ui/Window.h"

#include <QLabel>
#include <QWidget>

#include <memory>

class QSystemTrayIcon;

namespace qtshell {

class PopupLayer;
class Scene;
class StatusBar;

class AppWindow : public QWidget {
public:
    explicit AppWindow(kit::Window& window);
    ~AppWindow() override;

    Scene& scene() const { return *m_scene; }
    StatusBar& statusBar() const { return *m_statusBar; }
    PopupLayer& popups() const { return *m_popups; }

    void showAgain();
    // "Stopping the transfer…" over the screen while the application ends.
    void showStopping();
    bool isStopping() const { return m_stopping->isVisible(); }
    // A tray icon, where the desktop has a tray.
    void enableTrayIcon();
    // Quits Qt's loop right after the first frame is painted (start-up benchmark).
    void quitAfterFirstFrame() { m_quitAfterFirstFrame = true; }

    // The keys a person uses on a list and a page: PageUp, PageDown, Home and
    // End scroll the front screen's list; Alt+Left and Alt+Right go back and
    // forward in its web view. False when the key means nothing there.
    bool handleKey(int key, Qt::KeyboardModifiers modifiers);

protected:
    void closeEvent(QCloseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void paintEvent(QPaintEvent*) override;

private:
    std::weak_ptr<kit::View> m_window; // the kit window shown; the keys go to it
    std::unique_ptr<Scene> m_scene;
    StatusBar* m_statusBar;
    PopupLayer* m_popups;
    QLabel* m_stopping;
    QSystemTrayIcon* m_tray { nullptr };
    bool m_toldAboutClosing { false };
    bool m_quitAfterFirstFrame { false };
};

} // namespace qtshell
