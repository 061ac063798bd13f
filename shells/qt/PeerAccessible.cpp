#include "shells/qt/PeerAccessible.h"

#include "shells/qt/AppWindow.h"
#include "shells/qt/PopupLayer.h"
#include "shells/qt/StatusBar.h"
#include "shells/qt/ViewPeer.h"

#include "kit/ui/ActivityIndicatorView.h"
#include "kit/ui/Button.h"
#include "kit/ui/Label.h"
#include "kit/ui/ProgressView.h"
#include "kit/ui/TabBarController.h"
#include "kit/ui/TableView.h"
#include "kit/ui/TextField.h"
#include "kit/ui/TextView.h"
#include "kit/web/WebView.h"

#include <QAccessibleWidget>
#include <QPointer>

#include <cmath>
#include <vector>

namespace qtshell {
namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// The banner is the ads' own view; it shows its ad's text and opens it on a tap.
bool isLink(const kit::View& view) { return view.className() == "AdlarkSingleAdView"; }

class PeerAccessible;

// One item of the tab bar: a page tab with its title, selected or not.
class TabAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    TabAccessible(PeerAccessible& bar, int index) : m_bar(bar), m_index(index) { }

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString&) override { }
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::PageTab; }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    QStringList actionNames() const override { return { pressAction() }; }
    void doAction(const QString& name) override;
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    kit::TabBar* bar() const;
    PeerAccessible& m_bar;
    int m_index;
};

class PeerAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit PeerAccessible(ViewPeer* peer) : QAccessibleWidget(peer, roleOf(peer)), m_peer(peer) { }
    ~PeerAccessible() override
    {
        for (auto id : m_tabIds)
            QAccessible::deleteAccessibleInterface(id);
    }

    kit::View* view() const { return m_peer ? m_peer->view() : nullptr; }
    ViewPeer* peer() const { return m_peer; }

    static QAccessible::Role roleOf(ViewPeer* peer)
    {
        auto* v = peer ? peer->view() : nullptr;
        if (!v)
            return QAccessible::Grouping;
        if (dynamic_cast<kit::Button*>(v))
            return QAccessible::Button;
        if (dynamic_cast<kit::TabBar*>(v))
            return QAccessible::PageTabList;
        if (dynamic_cast<kit::TableView*>(v))
            return QAccessible::List;
        if (dynamic_cast<kit::TableViewCell*>(v))
            return QAccessible::ListItem;
        if (dynamic_cast<kit::Label*>(v))
            return QAccessible::StaticText;
        if (dynamic_cast<kit::ProgressView*>(v))
            return QAccessible::ProgressBar;
        if (dynamic_cast<kit::TextField*>(v))
            return QAccessible::EditableText;
        if (dynamic_cast<kit::TextView*>(v))
            return QAccessible::EditableText;
        if (dynamic_cast<kit::WebView*>(v))
            return QAccessible::Document;
        if (dynamic_cast<kit::ActivityIndicatorView*>(v))
            return QAccessible::Animation;
        if (isLink(*v))
            return QAccessible::Link;
        return QAccessible::Grouping;
    }

    // A button without a title (a row of a list made of labels) is named by
    // the words it shows, in order.
    static QString labelsWithin(const kit::View& view)
    {
        QStringList words;
        for (auto& child : view.subviews()) {
            if (auto* label = dynamic_cast<kit::Label*>(child.get()); label && !label->isHidden() && !label->text().empty())
                words << qs(label->text());
            else if (!dynamic_cast<kit::Label*>(child.get()))
                if (auto inner = labelsWithin(*child); !inner.isEmpty())
                    words << inner;
        }
        return words.join(QStringLiteral(", "));
    }

    QString text(QAccessible::Text t) const override
    {
        auto* v = view();
        if (!v)
            return {};
        if (t == QAccessible::Name) {
            if (!v->accessibilityLabel().empty())
                return qs(v->accessibilityLabel());
            if (auto* b = dynamic_cast<kit::Button*>(v))
                return b->title().empty() ? labelsWithin(*b) : qs(b->title());
            if (auto* field = dynamic_cast<kit::TextField*>(v))
                return qs(field->placeholder());
            if (dynamic_cast<kit::TabBar*>(v))
                return QStringLiteral("Tabs");
            if (dynamic_cast<kit::ProgressView*>(v))
                return QStringLiteral("Progress");
            if (dynamic_cast<kit::ActivityIndicatorView*>(v))
                return QStringLiteral("Loading");
            if (dynamic_cast<kit::TextView*>(v))
                return {};
            if (dynamic_cast<kit::WebView*>(v) || dynamic_cast<kit::Label*>(v) || dynamic_cast<kit::TableViewCell*>(v) || isLink(*v))
                return qs(v->displayText());
            return {};
        }
        if (t == QAccessible::Value) {
            if (auto* p = dynamic_cast<kit::ProgressView*>(v))
                return QString::number(int(std::floor(std::clamp(p->progress(), 0.0f, 1.0f) * 100))) + QLatin1Char('%');
            if (auto* field = dynamic_cast<kit::TextField*>(v))
                return qs(field->text());
            if (auto* tv = dynamic_cast<kit::TextView*>(v))
                return qs(tv->text());
            return {};
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        auto s = QAccessibleWidget::state();
        auto* v = view();
        if (!v)
            return s;
        if (auto* b = dynamic_cast<kit::Button*>(v); b && !b->isEnabled())
            s.disabled = true;
        if (auto* cell = dynamic_cast<kit::TableViewCell*>(v)) {
            s.selectable = true;
            s.selected = cell->isSelected();
        }
        if (dynamic_cast<kit::TextView*>(v))
            s.readOnly = true;
        if (dynamic_cast<kit::TextField*>(v))
            s.editable = true;
        return s;
    }

    // The tab bar's items are its children; other peers have their widgets'.
    int childCount() const override
    {
        if (auto* bar = dynamic_cast<kit::TabBar*>(view()))
            return int(bar->itemTitles().size());
        return QAccessibleWidget::childCount();
    }
    QAccessibleInterface* child(int index) const override
    {
        if (auto* bar = dynamic_cast<kit::TabBar*>(view())) {
            if (index < 0 || index >= int(bar->itemTitles().size()))
                return nullptr;
            while (int(m_tabIds.size()) <= index) {
                auto* tab = new TabAccessible(const_cast<PeerAccessible&>(*this), int(m_tabIds.size()));
                m_tabIds.push_back(QAccessible::registerAccessibleInterface(tab));
            }
            return QAccessible::accessibleInterface(m_tabIds[size_t(index)]);
        }
        return QAccessibleWidget::child(index);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (dynamic_cast<kit::TabBar*>(view())) {
            for (size_t i = 0; i < m_tabIds.size(); ++i)
                if (QAccessible::accessibleInterface(m_tabIds[i]) == child)
                    return int(i);
            return -1;
        }
        return QAccessibleWidget::indexOfChild(child);
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        if (dynamic_cast<kit::TabBar*>(view())) {
            for (int i = 0; i < childCount(); ++i)
                if (auto* c = child(i); c && c->rect().contains(x, y))
                    return c;
            return nullptr;
        }
        return QAccessibleWidget::childAt(x, y);
    }

    QStringList actionNames() const override
    {
        auto* v = view();
        if (dynamic_cast<kit::Button*>(v) || dynamic_cast<kit::TableViewCell*>(v))
            return { pressAction() };
        if (v && isLink(*v))
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
        if (type == QAccessible::ValueInterface && dynamic_cast<kit::ProgressView*>(view()))
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    // QAccessibleValueInterface: the bar's progress, 0 to 1.
    QVariant currentValue() const override
    {
        auto* p = dynamic_cast<kit::ProgressView*>(view());
        return p ? QVariant(double(p->progress())) : QVariant();
    }
    void setCurrentValue(const QVariant&) override { }
    QVariant maximumValue() const override { return 1.0; }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 0.01; }

private:
    QPointer<ViewPeer> m_peer;
    mutable std::vector<QAccessible::Id> m_tabIds;
};

bool TabAccessible::isValid() const { return bar() != nullptr; }
QAccessibleInterface* TabAccessible::parent() const { return &m_bar; }
kit::TabBar* TabAccessible::bar() const { return dynamic_cast<kit::TabBar*>(m_bar.view()); }

QString TabAccessible::text(QAccessible::Text t) const
{
    auto* b = bar();
    if (!b || t != QAccessible::Name || m_index >= int(b->itemTitles().size()))
        return {};
    return QString::fromStdString(b->itemTitles()[size_t(m_index)]);
}

QRect TabAccessible::rect() const
{
    auto* b = bar();
    auto* peer = m_bar.peer();
    if (!b || !peer || b->itemTitles().empty())
        return {};
    const QRect all = m_bar.rect();
    const int n = int(b->itemTitles().size());
    const int x0 = all.x() + all.width() * m_index / n, x1 = all.x() + all.width() * (m_index + 1) / n;
    return QRect(x0, all.y(), x1 - x0, all.height());
}

QAccessible::State TabAccessible::state() const
{
    QAccessible::State s;
    auto* b = bar();
    if (!b) {
        s.invalid = true;
        return s;
    }
    s.selectable = true;
    s.selected = b->selectedIndex() == m_index;
    s.checkable = true;
    s.checked = s.selected;
    return s;
}

void TabAccessible::doAction(const QString& name)
{
    if (auto* b = bar(); b && name == pressAction() && b->onSelect)
        b->onSelect(m_index);
}

QAccessibleInterface* factory(const QString&, QObject* object)
{
    // Only our widgets: other objects (the web engine's items) keep Qt's own.
    if (!object || !object->isWidgetType())
        return nullptr;
    if (auto* peer = dynamic_cast<ViewPeer*>(object))
        return new PeerAccessible(peer);
    if (auto* bar = dynamic_cast<StatusBar*>(object))
        return new QAccessibleWidget(bar, QAccessible::StatusBar, QStringLiteral("Status bar"));
    if (auto* window = dynamic_cast<AppWindow*>(object))
        return new QAccessibleWidget(window, QAccessible::Window, QStringLiteral("Quorvane"));
    // An alert's or a sheet's box: a dialog named by its title.
    if (auto* widget = qobject_cast<QWidget*>(object);
        widget && widget->objectName() == QLatin1String("box") && dynamic_cast<PopupLayer*>(widget->parentWidget()))
        return new QAccessibleWidget(widget, QAccessible::Dialog);
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

void peerAccessibilityChanged(ViewPeer& peer, QAccessible::Event event)
{
    if (!QAccessible::isActive())
        return;
    if (event == QAccessible::StateChanged) {
        // What a content change can turn: a selection, a tab, a button's enabling.
        QAccessible::State changed;
        changed.selected = changed.checked = changed.disabled = true;
        QAccessibleStateChangeEvent e(&peer, changed);
        QAccessible::updateAccessibility(&e);
        return;
    }
    QAccessibleEvent e(&peer, event);
    QAccessible::updateAccessibility(&e);
}

} // namespace qtshell
