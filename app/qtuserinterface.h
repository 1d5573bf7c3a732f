#pragma once

#include "core/userinterface.h"

#include <functional>

class QWidget;

namespace varnel {

// The real dialogs, message boxes and clipboard.
class QtUserInterface : public UserInterface {
public:
    explicit QtUserInterface(QWidget* parent = nullptr)
        : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    // Runs after every modal dialog closes: the window may have been closed meanwhile, and
    // then the command that asked must not go on.
    void setAfterModal(std::function<void()> check) { m_afterModal = std::move(check); }

    void showMessage(const QString& text, const QString& title, MessageIcon icon) override;
    bool askYesNo(const QString& text, const QString& title) override;
    QString inputText(const QString& prompt, const QString& title) override;
    QStringList openFileNames(const FileDialogRequest& request) override;
    QString saveFileName(const FileDialogRequest& request) override;
    void clearClipboard() override;
    void setClipboardText(const QString& text) override;
    void setClipboardUtf8(const QByteArray& utf8) override;
    QString clipboardText() override;

    // The least room a title bar's icon or button takes beside the title, in pixels.
    static constexpr int TitleBarButton = 32;

    // Message texts keep the program's CR and CR LF breaks; a label wants line feeds.
    static QString displayText(const QString& text);

private:
    void afterModal() const;

    QWidget* m_parent;
    std::function<void()> m_afterModal;
};

} // namespace varnel
