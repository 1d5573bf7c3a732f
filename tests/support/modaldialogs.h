#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

namespace varnel::testing {

// Answers the next modal dialog the program opens, the way a person would: once a modal
// widget is active, `answer` gets it (to read and to click). Arm it before the action
// that opens the dialog; the action blocks in the dialog until `answer` closes it.
class ModalAnswerer {
public:
    explicit ModalAnswerer(std::function<void(QWidget*)> answer, int timeoutMs = 10000);
    ~ModalAnswerer();
    bool answered() const { return m_answered; }

private:
    struct Private;
    Private* d;
    bool m_answered = false;
};

// Clicks the button whose text (mnemonics stripped) is `text` in `dialog`.
void clickButton(QWidget* dialog, const QString& text);

// A message box as one string to compare: "title|text|icon|buttons", the icon "no icon" or
// "warning", the buttons among OK, Yes and No with the default one marked "*".
QString describeMessageBox(QWidget* dialog);

// Answers the next modal dialog, a message box, by clicking `button`, after describing it
// into `shown` (which must outlive the answer).
std::unique_ptr<ModalAnswerer> answerMessageBox(QString& shown,
                                                const QString& button = QStringLiteral("OK"));

// A pointer move as the window system delivers it, with `held` buttons down; QTest's own
// move only warps the cursor, which the offscreen platform does not turn into events.
void sendMouseMove(QWidget* widget, QPoint pos, Qt::MouseButtons held = Qt::NoButton);

} // namespace varnel::testing
