#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

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

} // namespace varnel::testing
