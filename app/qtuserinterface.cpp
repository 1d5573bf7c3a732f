#include "qtuserinterface.h"

#include "failure.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace varnel {

QString QtUserInterface::displayText(const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(u'\r', u'\n');
    return shown;
}

void QtUserInterface::showMessage(const QString& text, const QString& title, MessageIcon icon)
{
    QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                    title, displayText(text), QMessageBox::Ok, m_parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    afterModal();
}

bool QtUserInterface::askYesNo(const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::NoIcon, title, displayText(text),
                    QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    const bool yes = box.exec() == QMessageBox::Yes;
    afterModal();
    return yes;
}

QString QtUserInterface::inputText(const QString& prompt, const QString& title)
{
    QInputDialog dialog(m_parent);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    afterModal();
    return accepted ? dialog.textValue() : QString();
}

QStringList QtUserInterface::openFileNames(const FileDialogRequest& request)
{
    QFileDialog dialog(m_parent, request.title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters(request.filters);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    afterModal();
    return accepted ? dialog.selectedFiles() : QStringList();
}

QString QtUserInterface::saveFileName(const FileDialogRequest& request)
{
    QFileDialog dialog(m_parent, request.title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters(request.filters);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    afterModal();
    if (!accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void QtUserInterface::afterModal() const
{
    if (m_afterModal)
        m_afterModal();
}

void QtUserInterface::clearClipboard()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        throw Failure(ErrorNumber::CannotCreateObject, QStringLiteral("Can't open clipboard"));
    clipboard->clear();
}

void QtUserInterface::setClipboardText(const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        throw Failure(ErrorNumber::CannotCreateObject, QStringLiteral("Can't open clipboard"));
    clipboard->setText(text);
}

} // namespace varnel
