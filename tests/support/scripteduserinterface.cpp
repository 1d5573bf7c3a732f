#include "scripteduserinterface.h"

#include "core/failure.h"

namespace varnel::testing {

void ScriptedUserInterface::showMessage(const QString& text, const QString& title,
                                        MessageIcon icon) {
    messages.append({text, title, icon});
    if (onMessage)
        onMessage(messages.last());
}

bool ScriptedUserInterface::askYesNo(const QString& text, const QString& title) {
    Q_UNUSED(title);
    questions.append(text);
    return yesNoAnswers.isEmpty() ? true : yesNoAnswers.takeFirst();
}

QString ScriptedUserInterface::inputText(const QString& prompt, const QString& title) {
    prompts.append(prompt + QStringLiteral(" | ") + title);
    return inputAnswers.isEmpty() ? QString() : inputAnswers.takeFirst();
}

QStringList ScriptedUserInterface::openFileNames(const FileDialogRequest& request) {
    dialogs.append(request);
    return openAnswers.isEmpty() ? QStringList() : openAnswers.takeFirst();
}

QString ScriptedUserInterface::saveFileName(const FileDialogRequest& request) {
    dialogs.append(request);
    return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
}

// Each clipboard call counts, and the first clipboardFailuresLeft of them fail.
static void touchClipboard(ScriptedUserInterface& ui) {
    ++ui.clipboardCalls;
    if (ui.clipboardFailuresLeft > 0) {
        --ui.clipboardFailuresLeft;
        throw Failure(ErrorNumber::CannotCreateObject, QStringLiteral("Can't open clipboard"));
    }
}

void ScriptedUserInterface::clearClipboard() {
    touchClipboard(*this);
    clipboard.clear();
}

void ScriptedUserInterface::setClipboardText(const QString& text) {
    touchClipboard(*this);
    clipboard = text;
    clipboardSet = true;
}

QString ScriptedUserInterface::clipboardText() {
    touchClipboard(*this);
    return clipboard;
}

QStringList ScriptedUserInterface::messageTexts() const {
    QStringList texts;
    for (const Message& m : messages)
        texts.append(m.text);
    return texts;
}

} // namespace varnel::testing
