// A one-line text entry: a line edit that writes every edit into the model,
// makes the field first responder when it takes the keyboard, and sends the
// return key to the model (which asks the field's delegate). It asks for the
// on-screen keyboard while it has the keyboard (InputPanel.h), with hints
// that suit what is typed into it.
#include "shells/qt/InputPanel.h"
#include "shells/qt/OnScreenKeyboard.h"
#include "shells/qt/PeerRegistry.h"

#include "kit/ui/TextField.h"

#include <QApplication>
#include <QFocusEvent>
#include <QInputMethod>
#include <QLineEdit>
#include <QMouseEvent>

namespace qtshell {

namespace {
bool g_panelRequested = false;
} // namespace

void InputPanel::request()
{
    g_panelRequested = true;
    QGuiApplication::inputMethod()->show();
    // Where Qt's input method does not reach the phone's keyboard.
    if (auto* keyboard = OnScreenKeyboard::shared())
        keyboard->setVisible(true);
}

void InputPanel::release()
{
    g_panelRequested = false;
    QGuiApplication::inputMethod()->hide();
    if (auto* keyboard = OnScreenKeyboard::shared())
        keyboard->setVisible(false);
}

bool InputPanel::isRequested()
{
    return g_panelRequested;
}

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
        InputPanel::request();
    }
    // A tap on the field that has the keyboard brings back the panel that
    // Return sent away.
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        QLineEdit::mouseReleaseEvent(event);
        if (hasFocus() && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            InputPanel::request();
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        QLineEdit::focusOutEvent(event);
        // Another window taking the keys (the panel's own, a menu) keeps it;
        // another field asks for it itself.
        if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
            return;
        if (!dynamic_cast<FieldEdit*>(QApplication::focusWidget()))
            InputPanel::release();
    }
};

// Addresses get the keyboard's address keys; every field here (file names,
// addresses, numbers) gets no capitals and no guessed words.
Qt::InputMethodHints hintsFor(const kit::TextField& field)
{
    Qt::InputMethodHints hints = Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText;
    if (field.placeholder() == "Address")
        hints |= Qt::ImhUrlCharactersOnly;
    return hints;
}

class TextFieldPeer : public ViewPeer {
public:
    TextFieldPeer(kit::TextField& model, Scene& scene)
        : ViewPeer(model, scene)
        , m_edit(new FieldEdit(this))
    {
        m_edit->setStyleSheet(QStringLiteral(
            "QLineEdit { background: white; border: 1px solid #8e95a0; border-radius: 5px; padding: 0 4px; color: black; }"));
        m_edit->setInputMethodHints(hintsFor(model));
        QObject::connect(m_edit, &QLineEdit::textEdited, m_edit, [this](const QString& text) {
            if (auto* f = field())
                f->setText(text.toStdString());
        });
        QObject::connect(m_edit, &QLineEdit::returnPressed, m_edit, [this] {
            // Return ends the typing: the keyboard goes, whatever the delegate does.
            InputPanel::release();
            if (auto* f = field())
                f->pressReturn();
        });
        m_edit->onFocusIn = [this] {
            if (auto* f = field(); f && !f->isFirstResponder())
                f->becomeFirstResponder();
        };
    }

    ~TextFieldPeer() override
    {
        if (m_edit->hasFocus())
            InputPanel::release();
    }

protected:
    void contentChanged() override
    {
        auto* f = field();
        if (auto hints = hintsFor(*f); hints != m_edit->inputMethodHints()) {
            m_edit->setInputMethodHints(hints);
            if (m_edit->hasFocus())
                QGuiApplication::inputMethod()->update(Qt::ImHints);
        }
        m_edit->setFont(toQFont(f->font()));
        m_edit->setPlaceholderText(QString::fromStdString(f->placeholder()));
        // The line edit speaks for the field, with the field's own name.
        m_edit->setAccessibleName(QString::fromStdString(f->accessibilityName()));
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
    QWidget* speakingWidget() const override { return m_edit; }

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
