// A scrolling block of text: a plain-text editor widget, read-only unless the
// model says the text view is editable.
#include "shells/qt/PeerRegistry.h"

#include "kit/ui/TextView.h"

#include <QPlainTextEdit>
#include <QScrollBar>

namespace qtshell {
namespace {

class TextViewPeer : public ViewPeer {
public:
    TextViewPeer(kit::TextView& model, Scene& scene)
        : ViewPeer(model, scene)
        , m_edit(new QPlainTextEdit(this))
    {
        m_edit->setFrameShape(QFrame::NoFrame);
        m_edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        m_edit->viewport()->setAutoFillBackground(false);
        m_edit->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));
        QObject::connect(m_edit, &QPlainTextEdit::textChanged, m_edit, [this] {
            if (m_applying || !view())
                return;
            viewAs<kit::TextView>()->setText(m_edit->toPlainText().toStdString());
        });
    }

protected:
    void contentChanged() override
    {
        auto* tv = viewAs<kit::TextView>();
        m_edit->setReadOnly(!tv->isEditable());
        m_edit->setFont(toQFont(tv->font()));
        QPalette palette = m_edit->palette();
        palette.setColor(QPalette::Text, toQColor(tv->textColor()));
        m_edit->setPalette(palette);
        const QString text = QString::fromStdString(tv->text());
        if (m_edit->toPlainText() != text) {
            m_applying = true;
            m_edit->setPlainText(text);
            m_applying = false;
        }
    }
    void layoutContent() override { m_edit->setGeometry(rect()); }
    // The text edit speaks for the view (named by it, PeerAccessible.cpp).
    QWidget* speakingWidget() const override { return m_edit; }

private:
    QPlainTextEdit* m_edit;
    bool m_applying { false };
};

} // namespace

void addTextViewPeers()
{
    PeerRegistry::add<kit::TextView, TextViewPeer>();
}

} // namespace qtshell
