#include "fileexists.h"

#include "filesystem.h"

#include <sys/stat.h>

namespace varnel {

bool fileExists(const QString& path) {
    if (path.isEmpty())
        return false;
    // By the name's own bytes: Qt's file classes cannot name a file whose name is not UTF-8.
    return fileExists(encodeFileName(path));
}

bool fileExists(const QByteArray& name) {
    struct stat status;
    return !name.isEmpty() && ::stat(name.constData(), &status) == 0;
}

} // namespace varnel
