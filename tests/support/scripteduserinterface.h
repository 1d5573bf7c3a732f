#pragma once

#include "core/userinterface.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace varnel::testing {

// Stands in for the person at the desk: answers come from queues the test fills, and every
// box the program shows is recorded. A hook lets a test act while a box is "open", which
// is where a person's other clicks land during a modal report.
class ScriptedUserInterface : public UserInterface {
public:
    struct Message {
        QString text;
        QString title;
        MessageIcon icon;
    };

    void showMessage(const QString& text, const QString& title, MessageIcon icon) override;
    bool askYesNo(const QString& text, const QString& title) override;
    QString inputText(const QString& prompt, const QString& title) override;
    QStringList openFileNames(const FileDialogRequest& request) override;
    QString saveFileName(const FileDialogRequest& request) override;
    void clearClipboard() override;
    void setClipboardText(const QString& text) override;
    QString clipboardText() override;

    QList<Message> messages;
    QStringList questions;
    QStringList prompts;
    QList<FileDialogRequest> dialogs;

    QList<bool> yesNoAnswers;       // empty: Yes
    QStringList inputAnswers;       // empty: cancelled
    QList<QStringList> openAnswers; // empty: cancelled
    QStringList saveAnswers;        // empty: cancelled

    QString clipboard;
    bool clipboardSet = false;
    int clipboardFailuresLeft = 0; // that many clipboard calls throw before one succeeds
    int clipboardCalls = 0;

    std::function<void(const Message&)> onMessage;

    QStringList messageTexts() const;
};

} // namespace varnel::testing
