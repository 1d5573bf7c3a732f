#include "targetpath.h"

#include <cerrno>
#include <climits>

#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

namespace {

// As many links as the system itself follows in one name.
constexpr int LinkLimit = 40;

} // namespace

int givenDescriptor(const QByteArray& path) {
    if (path == "/dev/stdin")
        return STDIN_FILENO;
    if (path == "/dev/stdout")
        return STDOUT_FILENO;
    if (path == "/dev/stderr")
        return STDERR_FILENO;
    for (const QByteArrayView folder :
         {QByteArrayView("/dev/fd/"), QByteArrayView("/proc/self/fd/")}) {
        if (!path.startsWith(folder))
            continue;
        const QByteArray number = path.sliced(folder.size());
        bool ok = false;
        const int fd = number.toInt(&ok);
        if (ok && fd >= 0 && number == QByteArray::number(fd))
            return fd;
    }
    return -1;
}

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.first(slash);
}

QByteArray baseOf(const QByteArray& path) {
    return path.sliced(path.lastIndexOf('/') + 1);
}

QByteArray followLinks(QByteArray path) {
    for (int followed = 0;; ++followed) {
        struct stat status;
        if (::lstat(path.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
            return path;
        if (followed == LinkLimit) {
            errno = ELOOP;
            return {};
        }
        QByteArray link(PATH_MAX, Qt::Uninitialized);
        const ssize_t size = ::readlink(path.constData(), link.data(), size_t(link.size()));
        if (size < 0)
            return path;
        link.truncate(size);
        path = link.startsWith('/') ? link : folderOf(path) + '/' + link;
    }
}

} // namespace varnel
