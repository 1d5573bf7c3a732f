#include "mainwindow.h"

#include "appicon.h"
#include "core/errorreport.h"
#include "core/failure.h"
#include "core/guard.h"
#include "linelistview.h"
#include "files/fileexists.h"
#include "lists/linelistmodel.h"
#include "startuplog.h"

#include <QCheckBox>
#include <QCursor>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QRadioButton>

namespace varnel {

namespace {

// A file counts only when it is a plain, visible file: a folder or a dot-file of that
// name is not a skin or pointer someone put there.
bool isListedFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && !info.fileName().startsWith(u'.');
}

// A cursor file keeps its hot spot where an icon file keeps planes and bit count; the
// image reader drops it, so it is read here.
QPoint cursorHotSpot(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {0, 0};
    const QByteArray head = file.read(14);
    const auto le16 = [&head](int at) {
        return int(quint8(head[at])) | (int(quint8(head[at + 1])) << 8);
    };
    if (head.size() < 14 || le16(2) != 2)
        return {0, 0};
    return {le16(10), le16(12)};
}

QCursor loadPointerImage(const QString& path) {
    QImageReader reader(path, "cur");
    const QImage image = reader.read();
    if (image.isNull())
        throw Failure(ErrorNumber::InvalidPicture, QStringLiteral("Invalid picture"));
    const QPoint hotSpot = cursorHotSpot(path);
    return QCursor(QPixmap::fromImage(image), hotSpot.x(), hotSpot.y());
}

// A list's one column; a screen reader names the list after it.
void addColumn(LineListView& view, LineListModel& list, const QString& caption) {
    list.addColumnHeader(caption);
    view.header()->resizeSection(0, MainWindow::twips(7000));
    view.setAccessibleName(caption);
}

} // namespace

void applySkin(MainWindow& window) {
    const QString skinPath = window.applicationFolder() + QStringLiteral("/x/o.cjs");
    if (!isListedFile(skinPath))
        return;
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    window.setPalette(palette);
    // Option buttons, check boxes, frames and labels take the button face too; this
    // window has none of them today.
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (qobject_cast<QRadioButton*>(child) || qobject_cast<QCheckBox*>(child) ||
            qobject_cast<QGroupBox*>(child) || qobject_cast<QLabel*>(child)) {
            QPalette p = child->palette();
            p.setColor(QPalette::Window, palette.color(QPalette::Button));
            child->setPalette(p);
        }
    }
    SkinFramework& skin = window.skin();
    skin.load(skinPath);
    skin.applyTo(&window);
}

void startUp(MainWindow& window) {
    WindowState& state = window.state();
    GuardedOperation g(state.ui(), locations::startUp);
    g.step(100, [&] { applySkin(window); });
    const QString pointerPath = window.applicationFolder() + QStringLiteral("/HAND-M.CUR");
    if (fileExists(pointerPath))
        g.step(106, [&] { window.m_customPointer = loadPointerImage(pointerPath); });
    // Nothing below reads a file: captions, the icon and the columns cannot fail.
    const QString caption = QStringLiteral("Varnel Software");
    window.setWindowTitle(caption);
    window.setWindowIcon(applicationIcon());
    state.setApplicationTitle(applicationTitleFromCaption(caption));
    addColumn(*window.inputView(), state.input(), QStringLiteral("Lines Of Text"));
    addColumn(*window.resultsView(), state.results(), QStringLiteral("Results"));
    logStartupFiles(window);
}

} // namespace varnel
