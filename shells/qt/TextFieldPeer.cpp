// A one-line text entry: a line edit that writes every edit into the model,
// makes the field first responder when it takes the keyboard, and sends the
// return key to the model (which asks the field's delegate).
#include "shells/qt/PeerRegistry.h"

#include "kit/ui/TextField.h"

#include <QFocusEvent>
#include <QLineEdit>

namespace qtshell {
namespace {

class FieldEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    std::function<void()> onFocusIn;

protected:
    void focusInEvent(QFocusEvent* event) override
    {
        QLineEdit::focusInEvent(event);
        if (onFocusIn)
            onFocusIn();
    }
};

class TextFieldPeer : public ViewPeer {
public:
    TextFieldPeer(kit::TextField& model, Scene& scene)
        : ViewPeer(model, scene)
        , m_edit(new FieldEdit(this))
    {
        m_edit->setStyleSheet(QStringLiteral(
            "QLineEdit { background: white; border: 1px solid #8e95a0; border-radius: 5px; padding: 0 4px; color: black; }"));
        // File names, addresses and limits: an on-screen keyboard offers no capitals or guesses.
        m_edit->setInputMethodHints(Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText);
        QObject::connect(m_edit, &QLineEdit::textEdited, m_edit, [this](const QString& text) {
            if (auto* f = field())
                f->setText(text.toStdString());
        });
        QObject::connect(m_edit, &QLineEdit::returnPressed, m_edit, [this] {
            if (auto* f = field())
                f->pressReturn();
        });
        m_edit->onFocusIn = [this] {
            if (auto* f = field(); f && !f->isFirstResponder())
                f->becomeFirstResponder();
        };
    }

protected:
    void contentChanged() override
    {
        auto* f = field();
        m_edit->setFont(toQFont(f->font()));
        m_edit->setPlaceholderText(QString::fromStdString(f->placeholder()));
        m_edit->setAccessibleName(QString::fromStdString(f->placeholder()));
        const QString text = QString::fromStdString(f->text());
        if (m_edit->text() != text)
            m_edit->setText(text);
        // The model's selection (bytes of UTF-8) as the line edit's (UTF-16 units).
        if (auto sel = f->selection(); sel.length > 0) {
            int start = int(QString::fromStdString(f->text().substr(0, sel.start)).size());
            int length = int(QString::fromStdString(f->selectedText()).size());
            if (m_edit->selectionStart() != start || m_edit->selectedText().size() != length)
                m_edit->setSelection(start, length);
        }
        if (f->isFirstResponder() && !m_edit->hasFocus())
            m_edit->setFocus(Qt::OtherFocusReason);
        else if (!f->isFirstResponder() && m_edit->hasFocus())
            m_edit->clearFocus();
    }
    void layoutContent() override { m_edit->setGeometry(rect()); }

private:
    kit::TextField* field() const { return viewAs<kit::TextField>(); }
    FieldEdit* m_edit;
};

} // namespace

void addTextFieldPeers()
{
    PeerRegistry::add<kit::TextField, TextFieldPeer>();
}

} // namespace qtshell
