#include "mainwindow.h"

#include "appicon.h"
#include "core/errorreport.h"
#include "core/guard.h"
#include "linelistview.h"
#include "startuplog.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
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

// The file-exists test: the modification time can be read; true for folders too.
bool fileExists(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
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
    skin.load(skinPath, QString());
    skin.setOptions(skin.options() | 1);
    skin.setApplyOptions(true);
    skin.setApplyColors(true);
    skin.applyTo(&window);
}

void startUp(MainWindow& window) {
    WindowState& state = window.state();
    GuardedOperation g(state.ui(), locations::startUp);
    g.step(100, [&] { applySkin(window); });
    const QString pointerPath = window.applicationFolder() + QStringLiteral("/HAND-M.CUR");
    bool present = true;
    g.step(104, [&] { present = fileExists(pointerPath); });
    if (present)
        g.step(106, [&] { window.m_customPointer = loadPointerImage(pointerPath); });
    g.step(126, [&] {
        const QString caption = QStringLiteral("Varnel Software");
        window.setWindowTitle(caption);
        window.setWindowIcon(applicationIcon());
        state.setApplicationTitle(applicationTitleFromCaption(caption));
    });
    g.step(128, [&] { state.input().addColumnHeader(QStringLiteral("Lines Of Text")); });
    g.step(130, [&] { window.inputView()->header()->resizeSection(0, MainWindow::twips(7000)); });
    g.step(132, [&] { state.results().addColumnHeader(QStringLiteral("Results")); });
    g.step(134, [&] { window.resultsView()->header()->resizeSection(0, MainWindow::twips(7000)); });
    logStartupFiles(window);
}

} // namespace varnel
