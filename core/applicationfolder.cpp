#include "applicationfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace varnel {

QString applicationFolder() {
    return applicationFolderBeside(QCoreApplication::applicationDirPath());
}

QString applicationFolderBeside(const QString& executableFolder) {
    // Set by the build from the install layout, e.g. "../libexec/varnel".
    const QString installed = QDir::cleanPath(executableFolder + u'/' +
                                              QStringLiteral(VARNEL_PRIVATE_FOLDER_FROM_BINARIES));
    return QFileInfo(installed).isDir() ? installed : executableFolder;
}

} // namespace varnel
