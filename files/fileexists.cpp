#include "fileexists.h"

#include "filesystem.h"

#include <sys/stat.h>

namespace varnel {

bool fileExists(const QString& path) {
    if (path.isEmpty())
        return false;
    // By the name's own bytes: Qt's file classes cannot name a file whose name is not UTF-8.
    struct stat status;
    return ::stat(encodeFileName(path).constData(), &status) == 0;
}

} // namespace varnel
