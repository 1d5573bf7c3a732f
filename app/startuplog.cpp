#include "startuplog.h"

#include "mainwindow.h"
#include "output/officeautomationprovider.h"

#include <QFileInfo>
#include <QLoggingCategory>

namespace varnel {

namespace {

Q_LOGGING_CATEGORY(startupLog, "varnel.startup", QtWarningMsg)

const char* presence(const QString& path) {
    return QFileInfo(path).isFile() ? "present" : "missing";
}

} // namespace

void logStartupFiles(const MainWindow& window) {
    const QString folder = window.applicationFolder();
    const QString pointer = folder + QStringLiteral("/HAND-M.CUR");
    qCInfo(startupLog).noquote() << "pointer:" << pointer
                                 << (window.hasCustomPointerImage() ? "loaded" : presence(pointer));
    const QString dragIcon = folder + QStringLiteral("/drag.ico");
    qCInfo(startupLog).noquote() << "drag icon:" << dragIcon << presence(dragIcon);
    const QString backend = OfficeAutomationProvider::backendPath();
    qCInfo(startupLog).noquote() << "spreadsheet backend:" << backend << presence(backend);
}

} // namespace varnel
