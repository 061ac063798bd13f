#include "shells/qt/ViewPeer.h"

#include "shells/qt/PeerAccessible.h"
#include "shells/qt/Scene.h"
#include "shells/qt/TurnOverlay.h"

#include "kit/core/RunLoop.h"
#include "kit/ui/TableView.h"
#include "kit/ui/ViewAnimation.h"

#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTouchEvent>
#include <QWheelEvent>

#include <cmath>

namespace qtshell {

namespace {
template<typename T>
T shown(const kit::View& view, kit::ViewProperty property, const T& model)
{
    auto value = view.presentationValue(property, kit::RunLoop::main().now());
    if (value)
        if (auto* v = std::get_if<T>(&*value))
            return *v;
    return model;
}

// Frames stay float in the model; the display rounds the edges, so that
// neighbours that touch in the model touch on screen.
QRect displayRect(float x, float y, float w, float h)
{
    int left = int(std::lround(x));
    int top = int(std::lround(y));
    int right = int(std::lround(x + w));
    int bottom = int(std::lround(y + h));
    return QRect(left, top, std::max(0, right - left), std::max(0, bottom - top));
}
} // namespace

ViewPeer::ViewPeer(kit::View& view, Scene& scene)
    : m_view(&view)
    , m_scene(scene)
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    applyFocusPolicy();
}

void ViewPeer::applyFocusPolicy()
{
    // What a tap acts on takes the keyboard's focus too (Tab moves it); a
    // disabled button is passed by.
    const bool focusable = m_view && m_view->canActivate();
    const auto policy = focusable ? Qt::StrongFocus : Qt::NoFocus;
    if (focusPolicy() != policy)
        setFocusPolicy(policy);
}

bool ViewPeer::activate()
{
    auto keep = m_view ? m_view->weak_from_this().lock() : nullptr;
    return m_view && m_view->canActivate() && m_view->activate();
}

void ViewPeer::keyPressEvent(QKeyEvent* event)
{
    const bool press = (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (press && focusPolicy() != Qt::NoFocus && activate()) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ViewPeer::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    // A row out of sight in a list that keeps every row (Tab reached it, or
    // its "›") scrolls into sight.
    for (auto* v = m_view; v; v = v->superview()) {
        auto* cell = dynamic_cast<kit::TableViewCell*>(v);
        if (!cell)
            continue;
        if (auto* table = dynamic_cast<kit::TableView*>(cell->superview()); table && table->keepsEveryRow())
            if (auto row = table->indexPathForCell(*cell))
                table->scrollToRowAtIndexPath(*row);
        break;
    }
    update();
}

void ViewPeer::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

ViewPeer::~ViewPeer()
{
    delete m_overlay.data();
}

QColor ViewPeer::toQColor(const kit::Color& c)
{
    auto unit = [](float v) { return std::clamp(v, 0.0f, 1.0f); };
    return QColor::fromRgbF(unit(c.red), unit(c.green), unit(c.blue), unit(c.alpha));
}

QFont ViewPeer::toQFont(const kit::Font& font)
{
    // The handheld's Helvetica; fontconfig picks the nearest sans face.
    QFont f(QStringLiteral("Helvetica"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(std::max(1, int(std::lround(font.size))));
    f.setBold(font.bold || font.name.find("Bold") != std::string::npos);
    return f;
}

void ViewPeer::propertyChanged(kit::ViewProperty property)
{
    if (!m_view)
        return;
    switch (property) {
    case kit::ViewProperty::Frame:
    case kit::ViewProperty::Transform:
        applyGeometry();
        break;
    case kit::ViewProperty::Alpha:
    case kit::ViewProperty::Hidden:
        applyVisibility();
        break;
    case kit::ViewProperty::BackgroundColor:
        applyBackground();
        break;
    case kit::ViewProperty::Content:
        applyFocusPolicy();
        contentChanged();
        // A title, a text, a selection or a value: a screen reader reads it again.
        peerAccessibilityChanged(*this, QAccessible::NameChanged);
        peerAccessibilityChanged(*this, QAccessible::StateChanged);
        break;
    case kit::ViewProperty::Animations:
        applyPresentation();
        break;
    case kit::ViewProperty::Tag:
    case kit::ViewProperty::Subviews:
        break;
    }
    if (kit::ViewAnimation::isAnimating(*m_view))
        m_scene.watchAnimation(*this);
}

void ViewPeer::applyAll()
{
    if (!m_view)
        return;
    applyGeometry();
    applyBackground();
    contentChanged();
    applyVisibility();
    if (kit::ViewAnimation::isAnimating(*m_view))
        m_scene.watchAnimation(*this);
}

bool ViewPeer::applyPresentation()
{
    if (!m_view)
        return false;
    applyGeometry();
    applyVisibility();
    applyBackground();
    return kit::ViewAnimation::isAnimating(*m_view);
}

void ViewPeer::takeOutgoingPicture()
{
    if (!m_view || !isVisible() || m_overlay)
        return;
    m_outgoing = grab();
}

bool ViewPeer::applyTurn()
{
    bool turning = TurnOverlay::turnOf(*this).has_value() && parentWidget();
    if (!turning) {
        endTurn();
        return false;
    }
    if (!m_overlay) {
        // Still shown: the picture to turn in is drawn now, once.
        m_overlay = new TurnOverlay(*this, std::move(m_outgoing), grab());
        m_outgoing = QPixmap();
    } else {
        m_overlay->place();
        m_overlay->update();
    }
    return true;
}

void ViewPeer::endTurn()
{
    if (!kit::ViewAnimation::isInsideBlock())
        m_outgoing = QPixmap(); // a transition set up and never committed
    if (!m_overlay)
        return;
    delete m_overlay.data();
}

void ViewPeer::detach()
{
    endTurn();
    m_view = nullptr;
    m_touched = false;
}

void ViewPeer::setTouched(bool touched)
{
    if (m_touched == touched)
        return;
    m_touched = touched;
    update();
}

void ViewPeer::applyGeometry()
{
    auto frame = shown<kit::Rect>(*m_view, kit::ViewProperty::Frame, m_view->frame());
    auto t = shown<kit::Transform>(*m_view, kit::ViewProperty::Transform, m_view->transform());
    // Translations move the view; scales grow it about its centre (the
    // subviews keep their size: widgets cannot be scaled).
    float w = frame.width() * std::abs(t.a);
    float h = frame.height() * std::abs(t.d);
    float cx = frame.x() + frame.width() / 2 + t.tx;
    float cy = frame.y() + frame.height() / 2 + t.ty;
    QRect r = displayRect(cx - w / 2, cy - h / 2, w, h);
    if (r != geometry())
        setGeometry(r);
    if (m_overlay)
        m_overlay->place();
}

void ViewPeer::applyVisibility()
{
    float alpha = shown<float>(*m_view, kit::ViewProperty::Alpha, m_view->alpha());
    // While a transition runs, its overlay shows the view instead.
    bool turning = applyTurn();
    bool visible = !m_view->isHidden() && alpha > 0.004f && !turning;
    if (visible && alpha < 0.996f) {
        if (!m_opacity) {
            m_opacity = new QGraphicsOpacityEffect(this);
            setGraphicsEffect(m_opacity);
        }
        m_opacity->setOpacity(alpha);
    } else if (m_opacity) {
        setGraphicsEffect(nullptr); // deletes the effect
        m_opacity = nullptr;
    }
    if (isHidden() == visible)
        setVisible(visible);
}

void ViewPeer::applyBackground()
{
    auto color = toQColor(shown<kit::Color>(*m_view, kit::ViewProperty::BackgroundColor, m_view->backgroundColor()));
    if (color != m_background) {
        m_background = color;
        update();
    }
}

void ViewPeer::paintEvent(QPaintEvent*)
{
    if (!m_view)
        return;
    QPainter painter(this);
    if (m_background.alpha() > 0)
        painter.fillRect(rect(), m_background);
    paintContent(painter);
    // Where the keyboard is: a ring a person can follow with Tab.
    if (hasFocus() && focusPolicy() != Qt::NoFocus) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0x1a, 0x73, 0xe8), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 6, 6);
    }
}

void ViewPeer::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutContent();
}

bool ViewPeer::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel: {
        const bool taken = m_scene.touchEvent(*this, *static_cast<QTouchEvent*>(event));
        event->setAccepted(taken);
        return taken;
    }
    default:
        return QWidget::event(event);
    }
}

void ViewPeer::mousePressEvent(QMouseEvent* event)
{
    // While a finger is down, a mouse the system makes of it is no second touch.
    if (event->button() != Qt::LeftButton || m_scene.isFingerDown())
        return;
    m_scene.touchBegan(*this, event->globalPosition());
}

void ViewPeer::mouseMoveEvent(QMouseEvent* event)
{
    if ((event->buttons() & Qt::LeftButton) && !m_scene.isFingerDown())
        m_scene.touchMoved(*this, event->globalPosition());
}

void ViewPeer::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_scene.isFingerDown())
        return;
    m_scene.touchEnded(*this, event->globalPosition());
}

void ViewPeer::wheelEvent(QWheelEvent* event)
{
    m_scene.scroll(*this, event->angleDelta());
}

} // namespace qtshell
