#include "shells/qt/PeerAccessible.h"

#include "shells/qt/AppWindow.h"
#include "shells/qt/PopupLayer.h"
#include "shells/qt/StatusBar.h"
#include "shells/qt/ViewPeer.h"

#include <QAccessibleWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <optional>
#include <typeinfo>
#include <vector>

namespace qtshell {

const char* const passThroughProperty = "quorvanePassThrough";
const char* const modalProperty = "quorvaneModal";

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

QAccessible::Role toQt(kit::AccessibilityRole role)
{
    using R = kit::AccessibilityRole;
    switch (role) {
    case R::None: return QAccessible::Grouping;
    case R::Button: return QAccessible::Button;
    case R::Link: return QAccessible::Link;
    case R::StaticText: return QAccessible::StaticText;
    case R::List: return QAccessible::List;
    case R::ListItem: return QAccessible::ListItem;
    case R::ProgressBar: return QAccessible::ProgressBar;
    case R::TextField: return QAccessible::EditableText;
    case R::TextArea: return QAccessible::EditableText;
    case R::Document: return QAccessible::Document;
    case R::BusyIndicator: return QAccessible::Animation;
    case R::TabList: return QAccessible::PageTabList;
    case R::Tab: return QAccessible::PageTab;
    }
    return QAccessible::Grouping;
}

void apply(const kit::AccessibilityState& from, QAccessible::State& s)
{
    s.disabled = s.disabled || from.disabled;
    s.focusable = s.focusable || from.focusable;
    s.selectable = from.selectable;
    s.selected = from.selected;
    s.busy = from.busy;
    s.editable = from.editable;
    s.readOnly = from.readOnly;
}

// Whether a widget is an object of its own to a screen reader or only the
// place its children are in: a peer of a view that is no object of its own
// (a panel), a peer whose hosted Qt widget speaks for it, a bare container
// widget, or a widget marked so (a scroll area's parts).
bool passesThrough(const QWidget* w)
{
    if (auto* peer = dynamic_cast<const ViewPeer*>(w))
        return !peer->view() || peer->view()->accessibilityRole() == kit::AccessibilityRole::None || peer->speakingWidget();
    if (w->property(passThroughProperty).toBool())
        return true;
    return typeid(*w) == typeid(QWidget) && w->accessibleName().isEmpty();
}

// A screen over the others (a presented screen, the popups' layer): while
// it shows, what it covers is not reachable.
bool isModal(const QWidget* w)
{
    if (w->isHidden())
        return false;
    if (auto* peer = dynamic_cast<const ViewPeer*>(w))
        return peer->view() && peer->view()->accessibilityViewIsModal();
    return w->property(modalProperty).toBool();
}

// Inside a control (a row of labels and a bar), only other controls are
// objects of their own; its words are in its name.
bool isControl(const QWidget* w)
{
    auto* peer = dynamic_cast<const ViewPeer*>(w);
    if (!peer)
        return true;
    auto* view = peer->view();
    return view && (view->canActivate() || view->accessibilityRole() == kit::AccessibilityRole::TextField);
}

void exposedChildren(const QWidget* w, bool controlsOnly, std::vector<QWidget*>& out)
{
    std::vector<QWidget*> children;
    for (auto* object : w->children())
        if (auto* child = qobject_cast<QWidget*>(object); child && !child->isWindow())
            children.push_back(child);
    // Qt stacks later children over earlier ones.
    for (size_t i = children.size(); i-- > 0;)
        if (isModal(children[i])) {
            children.erase(children.begin(), children.begin() + std::ptrdiff_t(i));
            break;
        }
    for (auto* child : children) {
        if (passesThrough(child) || (controlsOnly && !isControl(child)))
            exposedChildren(child, controlsOnly, out);
        else
            out.push_back(child);
    }
}

// The nearest ancestor that is an object of its own.
QObject* exposedParent(const QWidget* w)
{
    if (!w || w->isWindow())
        return w ? static_cast<QObject*>(qApp) : nullptr;
    auto* up = w->parentWidget();
    while (up && !up->isWindow() && passesThrough(up))
        up = up->parentWidget();
    return up ? static_cast<QObject*>(up) : static_cast<QObject*>(qApp);
}

// A widget whose children are the objects of its own below it, past the
// panels between; its parent the nearest object of its own above it.
class TreeAccessible : public QAccessibleWidget {
public:
    TreeAccessible(QWidget* w, QAccessible::Role role, const QString& name = {}) : QAccessibleWidget(w, role, name) { }

    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(exposedParent(widget())); }
    int childCount() const override { return int(children().size()); }
    QAccessibleInterface* child(int index) const override
    {
        auto all = children();
        return index >= 0 && index < int(all.size()) ? QAccessible::queryAccessibleInterface(all[size_t(index)]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        auto all = children();
        for (size_t i = 0; child && i < all.size(); ++i)
            if (all[i] == child->object())
                return int(i);
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        // The topmost first, as the widgets stack.
        for (int i = childCount() - 1; i >= 0; --i)
            if (auto* c = child(i); c && !c->state().invisible && c->rect().contains(x, y))
                return c;
        return nullptr;
    }

protected:
    virtual bool controlsOnly() const { return false; }
    std::vector<QWidget*> children() const
    {
        std::vector<QWidget*> out;
        if (widget())
            exposedChildren(widget(), controlsOnly(), out);
        return out;
    }
};

class PeerAccessible;

// One element of a view that is no view of its own (an item of the tab bar).
class ElementAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    ElementAccessible(PeerAccessible& owner, size_t index) : m_owner(owner), m_index(index) { }

    bool isValid() const override { return element().has_value(); }
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override
    {
        auto e = element();
        return e && t == QAccessible::Name ? qs(e->name) : QString();
    }
    void setText(QAccessible::Text, const QString&) override { }
    QRect rect() const override;
    QAccessible::Role role() const override
    {
        auto e = element();
        return e ? toQt(e->role) : QAccessible::NoRole;
    }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        auto e = element();
        if (!e) {
            s.invalid = true;
            return s;
        }
        apply(e->state, s);
        if (e->role == kit::AccessibilityRole::Tab) {
            s.checkable = true;
            s.checked = s.selected;
        }
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    QStringList actionNames() const override { return { pressAction() }; }
    void doAction(const QString& name) override;
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    std::optional<kit::AccessibilityElement> element() const;
    PeerAccessible& m_owner;
    size_t m_index;
};

// A peer speaks as the view's own answers say: role, name, value, state,
// the press action, and the elements that are no views.
class PeerAccessible : public TreeAccessible, public QAccessibleValueInterface {
public:
    explicit PeerAccessible(ViewPeer* peer)
        : TreeAccessible(peer, QAccessible::Grouping)
        , m_peer(peer)
    {
    }
    ~PeerAccessible() override
    {
        for (auto id : m_elementIds)
            QAccessible::deleteAccessibleInterface(id);
    }

    kit::View* view() const { return m_peer ? m_peer->view() : nullptr; }
    ViewPeer* peer() const { return m_peer; }

    QAccessible::Role role() const override
    {
        auto* v = view();
        return v ? toQt(v->accessibilityRole()) : QAccessible::Grouping;
    }

    QString text(QAccessible::Text t) const override
    {
        auto* v = view();
        if (!v)
            return {};
        if (t == QAccessible::Name)
            return qs(v->accessibilityName());
        if (t == QAccessible::Value)
            return qs(v->accessibilityValue());
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        auto s = QAccessibleWidget::state();
        if (auto* v = view())
            apply(v->accessibilityState(), s);
        return s;
    }

    // The elements come after the subviews' objects.
    int childCount() const override { return TreeAccessible::childCount() + int(elementCount()); }
    QAccessibleInterface* child(int index) const override
    {
        const int views = TreeAccessible::childCount();
        if (index < views)
            return TreeAccessible::child(index);
        const size_t element = size_t(index - views);
        if (element >= elementCount())
            return nullptr;
        while (m_elementIds.size() <= element) {
            auto* item = new ElementAccessible(const_cast<PeerAccessible&>(*this), m_elementIds.size());
            m_elementIds.push_back(QAccessible::registerAccessibleInterface(item));
        }
        return QAccessible::accessibleInterface(m_elementIds[element]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (size_t i = 0; i < m_elementIds.size() && i < elementCount(); ++i)
            if (QAccessible::accessibleInterface(m_elementIds[i]) == child)
                return TreeAccessible::childCount() + int(i);
        return TreeAccessible::indexOfChild(child);
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        for (int i = childCount() - 1; i >= 0; --i)
            if (auto* c = child(i); c && !c->state().invisible && c->rect().contains(x, y))
                return c;
        return nullptr;
    }

    QStringList actionNames() const override
    {
        if (auto* v = view(); v && v->canActivate())
            return { pressAction() };
        return QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override
    {
        if (name == pressAction() && m_peer && m_peer->activate())
            return;
        QAccessibleWidget::doAction(name);
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface && view() && view()->accessibilityProgress())
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    // QAccessibleValueInterface: a bar's progress, 0 to 1.
    QVariant currentValue() const override
    {
        auto progress = view() ? view()->accessibilityProgress() : std::nullopt;
        return progress ? QVariant(double(*progress)) : QVariant();
    }
    void setCurrentValue(const QVariant&) override { }
    QVariant maximumValue() const override { return 1.0; }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 0.01; }

    std::optional<kit::AccessibilityElement> element(size_t index) const
    {
        auto* v = view();
        if (!v)
            return std::nullopt;
        auto all = v->accessibilityElements();
        if (index >= all.size())
            return std::nullopt;
        return all[index];
    }
    void activateElement(size_t index)
    {
        auto keep = view() ? view()->weak_from_this().lock() : nullptr;
        if (auto* v = view())
            v->activateElement(index);
    }

protected:
    bool controlsOnly() const override
    {
        auto* v = view();
        return v && (v->accessibilityRole() == kit::AccessibilityRole::Button || v->accessibilityRole() == kit::AccessibilityRole::ListItem);
    }

private:
    size_t elementCount() const { return view() ? view()->accessibilityElements().size() : 0; }

    QPointer<ViewPeer> m_peer;
    mutable std::vector<QAccessible::Id> m_elementIds;
};

QAccessibleInterface* ElementAccessible::parent() const { return &m_owner; }
std::optional<kit::AccessibilityElement> ElementAccessible::element() const { return m_owner.element(m_index); }

QRect ElementAccessible::rect() const
{
    auto e = element();
    auto* peer = m_owner.peer();
    if (!e || !peer)
        return {};
    const QRect all = m_owner.rect();
    return QRect(all.x() + int(e->frame.x()), all.y() + int(e->frame.y()), int(e->frame.width()), int(e->frame.height()));
}

void ElementAccessible::doAction(const QString& name)
{
    if (name == pressAction())
        m_owner.activateElement(m_index);
}

// A text view's block of text: named by its view, read through Qt's text
// interface, without the scroll area's parts (viewport, bars) as objects.
class TextAreaAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit TextAreaAccessible(QPlainTextEdit* edit) : QAccessibleWidget(edit, QAccessible::EditableText) { }

    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(exposedParent(widget())); }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override
    {
        auto* peer = dynamic_cast<ViewPeer*>(widget()->parentWidget());
        auto* v = peer ? peer->view() : nullptr;
        if (t == QAccessible::Name)
            return v ? qs(v->accessibilityName()) : QString();
        if (t == QAccessible::Value)
            return edit()->toPlainText();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        auto s = QAccessibleWidget::state();
        s.multiLine = true;
        s.readOnly = edit()->isReadOnly();
        s.editable = !edit()->isReadOnly();
        s.selectableText = true;
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // QAccessibleTextInterface, over the edit's document and cursor.
    void selection(int index, int* start, int* end) const override
    {
        auto c = edit()->textCursor();
        *start = *end = 0;
        if (index == 0 && c.hasSelection()) {
            *start = c.selectionStart();
            *end = c.selectionEnd();
        }
    }
    int selectionCount() const override { return edit()->textCursor().hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override
    {
        auto c = edit()->textCursor();
        c.clearSelection();
        edit()->setTextCursor(c);
    }
    void setSelection(int, int start, int end) override
    {
        QTextCursor c(edit()->document());
        c.setPosition(clamped(start));
        c.setPosition(clamped(end), QTextCursor::KeepAnchor);
        edit()->setTextCursor(c);
    }
    int cursorPosition() const override { return edit()->textCursor().position(); }
    void setCursorPosition(int position) override
    {
        auto c = edit()->textCursor();
        c.setPosition(clamped(position));
        edit()->setTextCursor(c);
    }
    QString text(int start, int end) const override { return edit()->toPlainText().mid(start, end - start); }
    int characterCount() const override { return int(edit()->toPlainText().size()); }
    QRect characterRect(int offset) const override
    {
        QTextCursor c(edit()->document());
        c.setPosition(clamped(offset));
        QRect r = edit()->cursorRect(c);
        r.setWidth(std::max(1, edit()->fontMetrics().horizontalAdvance(edit()->toPlainText().mid(offset, 1))));
        return QRect(edit()->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        return edit()->cursorForPosition(edit()->viewport()->mapFromGlobal(point)).position();
    }
    void scrollToSubstring(int start, int) override
    {
        setCursorPosition(start);
        edit()->ensureCursorVisible();
    }
    QString attributes(int offset, int* start, int* end) const override
    {
        *start = *end = offset;
        return {};
    }

private:
    QPlainTextEdit* edit() const { return static_cast<QPlainTextEdit*>(widget()); }
    int clamped(int position) const { return std::clamp(position, 0, characterCount()); }
};

QAccessibleInterface* factory(const QString&, QObject* object)
{
    // Only our widgets: other objects (the web engine's items) keep Qt's own.
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (auto* peer = dynamic_cast<ViewPeer*>(widget))
        return new PeerAccessible(peer);
    if (auto* bar = dynamic_cast<StatusBar*>(widget))
        return new QAccessibleWidget(bar, QAccessible::StatusBar, QStringLiteral("Status bar"));
    if (auto* window = dynamic_cast<AppWindow*>(widget))
        return new TreeAccessible(window, QAccessible::Window, QStringLiteral("Quorvane"));
    // An alert's or a sheet's box: a dialog named by its title.
    if (widget->objectName() == QLatin1String("box") && dynamic_cast<PopupLayer*>(widget->parentWidget()))
        return new TreeAccessible(widget, QAccessible::Dialog);
    if (auto* edit = qobject_cast<QPlainTextEdit*>(widget); edit && dynamic_cast<ViewPeer*>(edit->parentWidget()))
        return new TextAreaAccessible(edit);
    if (passesThrough(widget))
        return new TreeAccessible(widget, QAccessible::Grouping);
    return nullptr;
}

} // namespace

void installPeerAccessibility()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(factory);
}

void markPassThrough(QWidget& widget)
{
    widget.setProperty(passThroughProperty, true);
}

void markModal(QWidget& widget)
{
    widget.setProperty(modalProperty, true);
}

void peerAccessibilityChanged(ViewPeer& peer, QAccessible::Event event)
{
    if (!QAccessible::isActive())
        return;
    // A view that became an object of its own, or stopped being one (a label
    // given its first words, a wheel that stopped): the objects around it changed.
    const bool exposed = !passesThrough(&peer);
    const QVariant was = peer.property("quorvaneExposed");
    peer.setProperty("quorvaneExposed", exposed);
    if (was.isValid() && was.toBool() != exposed) {
        if (auto* up = exposedParent(&peer); up && up->isWidgetType()) {
            QAccessibleEvent reorder(up, QAccessible::ObjectReorder);
            QAccessible::updateAccessibility(&reorder);
        }
    }
    if (!exposed)
        return;
    if (event == QAccessible::StateChanged) {
        // What a content change can turn: a selection, a tab, a button's enabling, a wheel.
        QAccessible::State changed;
        changed.selected = changed.checked = changed.disabled = changed.busy = changed.focusable = true;
        QAccessibleStateChangeEvent e(&peer, changed);
        QAccessible::updateAccessibility(&e);
        return;
    }
    QAccessibleEvent e(&peer, event);
    QAccessible::updateAccessibility(&e);
}

} // namespace qtshell
