#pragma once
// The application window: 320 x 480 points at its natural size (Qt scales
// points for dense screens), resizable down to 320 x 288 so that it fits what
// a phone's shell leaves of a phone turned on its side; its size is the kit screen's, and the views
// follow by their autoresizing masks (a turned phone is just a new size).
// The kit window's tree is drawn by peers, the status bar lies over its top
// 20 points (none under a phone's shell, which shows its own), popups over everything, and the notice shown while the
// application waits for its transfer to stop.
//
// Closing the window is the handheld's "leaving the application": the window
// goes, the application is sent its suspend request (Quorvane answers with
// nothing), and the process and its transfer go on. showAgain() brings the
// window back (a second start, the tray icon).
#include "kit/ui/Window.h"

#include <QLabel>
#include <QWidget>

#include <functional>

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
    QLabel& stoppingPanel() const { return *m_stoppingText; }
    // A tray icon, where the desktop has a tray (and the window outlives its closing).
    void enableTrayIcon();
    // The transfers are the service's: closing the window ends the window's
    // process after `leave` (which keeps the service from ending with it).
    static void setClosingEnds(std::function<void()> leave);
    static bool closingEnds();
    // Quits Qt's loop right after the first frame is painted (start-up benchmark).
    void quitAfterFirstFrame() { m_quitAfterFirstFrame = true; }

    // The keys a person uses on a list and a page: PageUp, PageDown, Home and
    // End scroll the front screen's list; Alt+Left and Alt+Right go back and
    // forward in its web view. False when the key means nothing there.
    bool handleKey(int key, Qt::KeyboardModifiers modifiers);
    // Shifts the screen up while the focused field would lie below the
    // window's bottom (a turned phone with its keyboard up), back otherwise.
    void keepFocusInView();

protected:
    void closeEvent(QCloseEvent*) override;
    // Whether a person can see the window, for what it gives back unseen
    // and what waits meanwhile.
    void windowShown(bool shown);
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;
    void changeEvent(QEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    // Tab and Shift+Tab stay on the front screen (an alert, a presented
    // screen, else the tabs): what lies under it cannot be reached.
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent*) override;
    void paintEvent(QPaintEvent*) override;

private:
    std::weak_ptr<kit::View> m_window; // the kit window shown; the keys go to it
    std::unique_ptr<Scene> m_scene;
    StatusBar* m_statusBar;
    PopupLayer* m_popups;
    QWidget* m_stopping;
    QLabel* m_stoppingText;
    QSystemTrayIcon* m_tray { nullptr };
    bool m_quitAfterFirstFrame { false };
};

} // namespace qtshell
