#include "qtuserinterface.h"

#include "core/failure.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QRegularExpression>
#include <QSpacerItem>

#include <limits>

namespace varnel {

namespace {

// "*.*" has always meant every file to the people who use this program; Qt reads it as
// "names with a dot". The dialog filters with "*" for it while the choice keeps its label.
QString qtNameFilter(const QString& filter) {
    static const QRegularExpression labelled(QStringLiteral("^(.*)\\(([^()]*)\\)$"));
    const QRegularExpressionMatch match = labelled.match(filter);
    if (!match.hasMatch())
        return filter;
    QStringList patterns = match.captured(2).split(u' ', Qt::SkipEmptyParts);
    for (QString& pattern : patterns)
        if (pattern == u"*.*")
            pattern = QStringLiteral("*");
    return match.captured(1) + u'(' + patterns.join(u' ') + u')';
}

void setDialogFilters(QFileDialog& dialog, const QStringList& filters) {
    QStringList qtFilters;
    for (const QString& filter : filters)
        qtFilters.append(qtNameFilter(filter));
    dialog.setNameFilters(qtFilters);
    if (auto* choices = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
        for (int i = 0; i < choices->count() && i < filters.size(); ++i)
            choices->setItemText(i, filters.at(i));
    }
}

// Every name typed or picked comes back, in the order of the file-name box, whether the
// file exists or not: the command tells the user about a missing one by name, and loads
// the others. Only a single folder name is still opened in the dialog.
class OpenFilesDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    QStringList picked;

protected:
    void accept() override {
        auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QStringList names = edit ? typedNames(edit->text()) : QStringList();
        if (names.isEmpty()) {
            QFileDialog::accept();
        } else if (names.size() == 1 && QFileInfo(names.first()).isDir()) {
            // What the box says decides, not a selection left over in the list.
            setDirectory(names.first());
            edit->clear();
        } else {
            picked = names;
            QDialog::accept();
        }
    }

private:
    // The box holds one name, or several each in double quotes, as the dialog writes them
    // for a selection of several files.
    QStringList typedNames(const QString& text) const {
        QStringList names;
        if (!text.contains(u'"')) {
            if (!text.isEmpty())
                names.append(text);
        } else {
            const QStringList tokens = text.split(u'"');
            for (qsizetype i = 1; i < tokens.size(); i += 2)
                if (!tokens.at(i).isEmpty())
                    names.append(tokens.at(i));
        }
        const QDir folder = directory();
        for (QString& name : names) {
            if (name == u"~" || name.startsWith(QStringLiteral("~/")))
                name.replace(0, 1, QDir::homePath());
            name = QDir::cleanPath(folder.absoluteFilePath(name));
        }
        return names;
    }
};

// A short message makes a narrow box, and the window manager cuts its title to fit beside
// the title bar's icon and buttons: the box is made wide enough for both. The box sizes
// itself to its layout's least width, so the room is a spacer across the layout.
void makeRoomForTitle(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    const QFontMetrics title(QApplication::font("QMdiSubWindowTitleBar"));
    const int titleBar = 4 * std::max(QtUserInterface::TitleBarButton, 2 * title.height());
    const int width = title.horizontalAdvance(box.windowTitle()) + titleBar;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

} // namespace

QString QtUserInterface::displayText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(u'\r', u'\n');
    return shown;
}

void QtUserInterface::showMessage(const QString& text, const QString& title, MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                    title, displayText(text), QMessageBox::Ok, m_parent);
    box.setTextFormat(Qt::PlainText);
    makeRoomForTitle(box);
    box.exec();
    afterModal();
}

bool QtUserInterface::askYesNo(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title, displayText(text),
                    QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    makeRoomForTitle(box);
    const bool yes = box.exec() == QMessageBox::Yes;
    afterModal();
    return yes;
}

QString QtUserInterface::inputText(const QString& prompt, const QString& title) {
    QInputDialog dialog(m_parent);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    // A line may be far longer than a line edit's 32,767 characters, cut without a word.
    if (auto* edit = dialog.findChild<QLineEdit*>())
        edit->setMaxLength(std::numeric_limits<int>::max());
    const bool accepted = dialog.exec() == QDialog::Accepted;
    afterModal();
    return accepted ? dialog.textValue() : QString();
}

QStringList QtUserInterface::openFileNames(const FileDialogRequest& request) {
    OpenFilesDialog dialog(m_parent, request.title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Qt's own several-files mode will not take a name that does not exist; this mode
    // takes any name, and the views are opened up to several files below.
    dialog.setFileMode(QFileDialog::AnyFile);
    for (auto* view : dialog.findChildren<QAbstractItemView*>())
        if (view->objectName() == u"listView" || view->objectName() == u"treeView")
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDialogFilters(dialog, request.filters);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    afterModal();
    if (!accepted)
        return {};
    return dialog.picked.isEmpty() ? dialog.selectedFiles() : dialog.picked;
}

QString QtUserInterface::saveFileName(const FileDialogRequest& request) {
    QFileDialog dialog(m_parent, request.title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The command asks about overwriting itself, with its own words.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    setDialogFilters(dialog, request.filters);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    afterModal();
    if (!accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void QtUserInterface::afterModal() const {
    if (m_afterModal)
        m_afterModal();
}

void QtUserInterface::clearClipboard() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        throw Failure(ErrorNumber::CannotCreateObject, QStringLiteral("Can't open clipboard"));
    clipboard->clear();
}

void QtUserInterface::setClipboardText(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        throw Failure(ErrorNumber::CannotCreateObject, QStringLiteral("Can't open clipboard"));
    clipboard->setText(text);
}

void QtUserInterface::setClipboardUtf8(const QByteArray& utf8) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        throw Failure(ErrorNumber::CannotCreateObject, QStringLiteral("Can't open clipboard"));
    // Under the one format setText uses, as the bytes it would hand out for it: receivers
    // that ask for the text or its bytes get the same as from setText, and the clipboard
    // keeps a byte a character where setText keeps two.
    auto* data = new QMimeData;
    data->setData(QStringLiteral("text/plain"), utf8);
    clipboard->setMimeData(data);
}

QString QtUserInterface::clipboardText() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        throw Failure(ErrorNumber::CannotCreateObject, QStringLiteral("Can't open clipboard"));
    return clipboard->text();
}

} // namespace varnel
