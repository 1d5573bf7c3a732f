#pragma once

#include "failure.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace varnel {

enum class MessageIcon { None, Warning };

struct FileDialogRequest {
    QString title;
    // Name filters in the order shown; the first one is selected when the dialog opens.
    QStringList filters;
};

// Everything the commands ask of a person or of the desktop goes through here, so the
// program shows real Qt dialogs while tests script the answers and read every message.
class UserInterface {
public:
    virtual ~UserInterface() = default;

    // A modal box with an OK button only.
    virtual void showMessage(const QString& text, const QString& title, MessageIcon icon) = 0;
    // A modal box with Yes and No, Yes the default; true for Yes.
    virtual bool askYesNo(const QString& text, const QString& title) = 0;
    // A modal input box; an empty text when cancelled.
    virtual QString inputText(const QString& prompt, const QString& title) = 0;
    // Full paths in the dialog's order; empty when cancelled. Missing names come back too.
    virtual QStringList openFileNames(const FileDialogRequest& request) = 0;
    // The chosen path; empty when cancelled. Never asks about overwriting itself.
    virtual QString saveFileName(const FileDialogRequest& request) = 0;
    // Clipboard access; each may throw when the clipboard cannot be had right now.
    virtual void clearClipboard() = 0;
    virtual void setClipboardText(const QString& text) = 0;
    // The same for a text given as UTF-8, which a clipboard that can keeps as it is: half the
    // memory of most texts as a QString, and what every receiver is handed either way.
    virtual void setClipboardUtf8(const QByteArray& utf8) {
        setClipboardText(QString::fromUtf8(utf8));
    }
    // The clipboard's text; empty when it holds none. An interface that cannot read the
    // clipboard says so rather than answer nothing.
    virtual QString clipboardText() {
        throw Failure(ErrorNumber::CannotCreateObject, QStringLiteral("Can't open clipboard"));
    }
};

} // namespace varnel
