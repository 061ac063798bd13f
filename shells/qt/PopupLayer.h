#pragma once
// Alerts and action sheets over the screen, as the handheld shows them: the
// screen dimmed behind, the alert a rounded box in the middle with its
// buttons side by side (two) or stacked, the action sheet rising from the
// bottom with its buttons stacked and Cancel last. Views an alert carries
// (an entry field) are shown by the window's scene between its text and its
// buttons, and the first field takes the keyboard. The front popup is shown;
// the pressed button reaches it as the popup's own index.
#include "kit/ui/Popup.h"

#include <QWidget>

#include <memory>

class QPushButton;

namespace kit {
class View;
}

namespace qtshell {

class Scene;

class PopupLayer : public QWidget {
public:
    PopupLayer(QWidget* parent, Scene& scene);
    ~PopupLayer() override;
    // Shows the application's front popup (or nothing).
    void refresh();
    kit::Popup* shownPopup() const { return m_shown.lock().get(); }
    // The button widget for an index of the shown popup (tests, keyboard).
    QPushButton* buttonForIndex(int index) const;

protected:
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void build(kit::Popup& popup);
    void place();
    void press(int index);
    QWidget* carriedViews(kit::Popup& popup);
    void dropCarriedViews();

    Scene& m_scene;
    std::weak_ptr<kit::Popup> m_shown;
    std::vector<std::weak_ptr<kit::View>> m_carried;
    QWidget* m_box { nullptr };
    bool m_sheet { false };
    std::vector<std::pair<int, QPushButton*>> m_buttons;
};

} // namespace qtshell
