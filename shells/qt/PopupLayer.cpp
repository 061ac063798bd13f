#include "shells/qt/PopupLayer.h"

#include "shells/qt/PeerAccessible.h"
#include "shells/qt/Scene.h"
#include "shells/qt/ViewPeer.h"

#include "kit/ui/Application.h"
#include "kit/ui/TextField.h"
#include "kit/ui/Window.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace qtshell {

namespace {
const char* alertStyle = R"(
#box { background: rgba(16, 36, 86, 232); border: 2px solid rgba(255, 255, 255, 200); border-radius: 10px; }
QLabel { color: white; background: transparent; }
QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; border: none; }
QPushButton { color: white; font-weight: bold; min-height: 30px; border: 1px solid rgba(255,255,255,150);
  border-radius: 7px; background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgba(255,255,255,90), stop:1 rgba(255,255,255,30)); }
QPushButton:pressed { background: rgba(255,255,255,140); }
QPushButton:focus { border: 1px solid white; }
QPushButton[cancel="true"] { background: rgba(0,0,0,60); }
QScrollBar:vertical { background: transparent; width: 6px; margin: 0; }
QScrollBar::handle:vertical { background: rgba(255,255,255,120); border-radius: 3px; min-height: 20px; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical, QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { height: 0; background: none; }
)";

const char* sheetStyle = R"(
#box { background: rgba(40, 44, 52, 236); border-top: 1px solid rgba(255,255,255,120); }
QLabel { color: #c8ccd2; background: transparent; }
QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; border: none; }
QPushButton { color: black; font-weight: bold; min-height: 38px; border: 1px solid #5a5f66; border-radius: 8px;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #dfe2e6); }
QPushButton:pressed { background: #4a8bf5; color: white; }
QPushButton:focus { border: 2px solid #4a8bf5; }
QPushButton[cancel="true"] { color: white; background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #5c6168, stop:1 #2f3237); }
QPushButton[destructive="true"] { color: white; background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #e8574f, stop:1 #b8221b); }
)";
} // namespace

// Margins of the box, left and right; the carried views keep the alert's own
// coordinates, whose left edge is the box's.
constexpr int boxMargin = 12;

PopupLayer::PopupLayer(QWidget* parent, Scene& scene)
    : QWidget(parent)
    , m_scene(scene)
{
    setFocusPolicy(Qt::StrongFocus);
    // The dimmed screen is no object to a screen reader; the box on it is.
    markPassThrough(*this);
    markModal(*this);
    hide();
}

PopupLayer::~PopupLayer()
{
    dropCarriedViews();
}

void PopupLayer::dropCarriedViews()
{
    for (auto& weak : m_carried)
        if (auto view = weak.lock())
            m_scene.removeRoot(*view);
    m_carried.clear();
}

QWidget* PopupLayer::carriedViews(kit::Popup& popup)
{
    if (popup.subviews().empty())
        return nullptr;
    // The views' frames are in the alert's coordinates; the area spans them
    // from the top of the first to the bottom of the last.
    float top = popup.subviews().front()->frame().y(), bottom = top;
    for (auto& view : popup.subviews()) {
        top = std::min(top, view->frame().y());
        bottom = std::max(bottom, view->frame().maxY());
    }
    auto* area = new QWidget;
    area->setFixedHeight(int(std::ceil(bottom - top)));
    auto* origin = new QWidget(area);
    origin->setGeometry(-boxMargin, -int(top), 1000, int(std::ceil(bottom)));
    for (auto& view : popup.subviews()) {
        m_scene.addRoot(*view, origin);
        m_carried.push_back(view);
    }
    return area;
}

void PopupLayer::refresh()
{
    kit::Popup* front = kit::Application::exists() ? kit::Application::shared().frontPopup() : nullptr;
    if (front == m_shown.lock().get() && (front != nullptr) == isVisible())
        return;
    dropCarriedViews();
    if (m_box) {
        // Its button may be the one being clicked right now.
        m_box->hide();
        m_box->deleteLater();
        m_box = nullptr;
    }
    m_buttons.clear();
    m_shown.reset();
    if (!front) {
        hide();
        return;
    }
    m_shown = front->weak_from_this();
    build(*front);
    show();
    raise();
    // The first entry field takes the keyboard; else the preferred button,
    // which Return presses.
    if (auto* field = front->textField(); field && m_scene.peerFor(field)) {
        field->becomeFirstResponder();
        if (auto* edit = m_scene.peerFor(field)->findChild<QLineEdit*>())
            edit->setFocus(Qt::OtherFocusReason);
    } else if (auto* preferred = buttonForIndex(front->preferredButtonIndex())) {
        preferred->setFocus(Qt::OtherFocusReason);
    } else {
        setFocus(Qt::OtherFocusReason);
    }
}

void PopupLayer::build(kit::Popup& popup)
{
    m_sheet = popup.isSheet();
    m_box = new QWidget(this);
    m_box->setObjectName(QStringLiteral("box"));
    // A screen reader reads it as a dialog with its title and message.
    m_box->setAccessibleName(QString::fromStdString(popup.title()));
    m_box->setAccessibleDescription(QString::fromStdString(popup.message()));
    m_box->setAttribute(Qt::WA_StyledBackground);
    m_box->setStyleSheet(QString::fromLatin1(m_sheet ? sheetStyle : alertStyle));
    auto* layout = new QVBoxLayout(m_box);
    layout->setContentsMargins(boxMargin, 10, boxMargin, 12);
    layout->setSpacing(8);

    auto text = [&](const std::string& s, bool bold, int size) {
        auto* label = new QLabel(QString::fromStdString(s));
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        label->setFont(ViewPeer::toQFont(bold ? kit::Font::boldSystemFont(float(size)) : kit::Font::systemFont(float(size))));
        return label;
    };
    if (!popup.title().empty())
        layout->addWidget(text(popup.title(), !m_sheet, m_sheet ? 13 : 17));
    auto* carried = carriedViews(popup);
    // A message of blank lines only makes room for the carried views; they
    // get their own room here.
    const bool blankMessage = popup.message().find_first_not_of(" \n") == std::string::npos;
    if (!popup.message().empty() && !(carried && blankMessage)) {
        // A long message scrolls inside the box; the buttons stay in view.
        auto* label = text(popup.message(), false, 15);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto* scroll = new QScrollArea;
        scroll->setWidget(label);
        scroll->setWidgetResizable(true);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setFocusPolicy(Qt::NoFocus);
        // The message is read as its label; the box's description says it too.
        markPassThrough(*scroll);
        markPassThrough(*scroll->viewport());
        for (auto* bar : { scroll->verticalScrollBar(), scroll->horizontalScrollBar() }) {
            markPassThrough(*bar);
            if (bar->parentWidget() && bar->parentWidget() != scroll)
                markPassThrough(*bar->parentWidget()); // the area's holder of the bar
        }
        label->setFixedWidth(m_sheet ? 280 : 246);
        int wanted = label->heightForWidth(label->width());
        scroll->setFixedHeight(std::min(std::max(wanted, 20), m_sheet ? 120 : 230));
        layout->addWidget(scroll);
    }
    if (carried)
        layout->addWidget(carried);

    // The order on screen: an alert with two buttons shows them side by
    // side in index order; otherwise buttons stack with Cancel last.
    const int count = popup.numberOfButtons();
    const int cancel = popup.cancelButtonIndex();
    std::vector<int> order;
    for (int i = 0; i < count; ++i)
        if (i != cancel)
            order.push_back(i);
    if (cancel >= 0 && cancel < count)
        order.push_back(cancel);
    const bool sideBySide = !m_sheet && count == 2;
    if (sideBySide)
        order = { 0, 1 };
    QBoxLayout* buttons = sideBySide ? static_cast<QBoxLayout*>(new QHBoxLayout) : new QVBoxLayout;
    buttons->setSpacing(8);
    for (int index : order) {
        auto* button = new QPushButton(QString::fromStdString(popup.buttonTitleAtIndex(index)));
        button->setProperty("cancel", index == cancel);
        button->setProperty("destructive", index == popup.destructiveButtonIndex());
        button->setAutoDefault(true);
        button->setDefault(index == popup.preferredButtonIndex());
        if (m_sheet && index == cancel)
            buttons->addSpacing(6);
        connect(button, &QPushButton::clicked, this, [this, index] { press(index); });
        buttons->addWidget(button);
        m_buttons.emplace_back(index, button);
    }
    layout->addLayout(buttons);
    place();
    m_box->show();
}

void PopupLayer::place()
{
    if (!m_box)
        return;
    if (m_sheet) {
        // A sheet keeps its own width, centred at the bottom of a wider window.
        m_box->setFixedWidth(std::min(width(), int(kit::Window::width)));
        m_box->adjustSize();
        m_box->move((width() - m_box->width()) / 2, height() - m_box->height());
    } else {
        m_box->setFixedWidth(std::min(284, width() - 16));
        m_box->adjustSize();
        // Centred, then moved by the alert's own translation, kept on screen.
        QPoint offset;
        if (auto popup = m_shown.lock())
            offset = QPoint(int(std::lround(popup->transform().tx)), int(std::lround(popup->transform().ty)));
        const int x = std::clamp((width() - m_box->width()) / 2 + offset.x(), 0, std::max(0, width() - m_box->width()));
        const int y = std::clamp((height() - m_box->height()) / 2 + offset.y(), 0, std::max(0, height() - m_box->height()));
        m_box->move(x, y);
    }
}

void PopupLayer::resizeEvent(QResizeEvent*)
{
    place();
}

QPushButton* PopupLayer::buttonForIndex(int index) const
{
    for (auto& [i, button] : m_buttons)
        if (i == index)
            return button;
    return nullptr;
}

void PopupLayer::press(int index)
{
    auto popup = m_shown.lock();
    if (!popup)
        return;
    popup->dismissWithClickedButtonIndex(index, true);
    refresh();
}

void PopupLayer::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0, m_sheet ? 90 : 110));
}

void PopupLayer::keyPressEvent(QKeyEvent* event)
{
    auto popup = m_shown.lock();
    if (popup && event->key() == Qt::Key_Escape && popup->cancelButtonIndex() >= 0) {
        press(popup->cancelButtonIndex());
        return;
    }
    // Return where no button has the keys (the box itself): the preferred
    // button, as a focused button takes its own. An entry field's Return is
    // its delegate's to answer, not a button's.
    if (popup && !popup->textField() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && buttonForIndex(popup->preferredButtonIndex())) {
        press(popup->preferredButtonIndex());
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace qtshell
