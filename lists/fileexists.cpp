#include "fileexists.h"

#include <QDateTime>
#include <QFileInfo>

namespace varnel {

bool fileExists(const QString& path) {
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}

} // namespace varnel
