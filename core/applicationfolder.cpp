#include "applicationfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace varnel {

QString applicationFolder() {
    const QString executableFolder = QCoreApplication::applicationDirPath();
    // Set by the build from the install layout, e.g. "../lib/varnel".
    const QString installed = QDir::cleanPath(executableFolder + u'/' +
                                              QStringLiteral(VARNEL_PRIVATE_FOLDER_FROM_BINARIES));
    return QFileInfo(installed).isDir() ? installed : executableFolder;
}

} // namespace varnel
