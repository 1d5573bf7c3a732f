#include "filebeside.h"

#include <QRandomGenerator>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace varnel {

namespace {

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.first(slash);
}

} // namespace

FileBeside createFileBeside(const QByteArray& target, bool replacing) {
    const QByteArray folder = folderOf(target);
    const QByteArray base = target.mid(target.lastIndexOf('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray path = folder + "/." + base + '.' +
                                QByteArray::number(QRandomGenerator::global()->generate(), 36);
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              replacing ? 0600 : 0666);
        if (fd >= 0)
            return {fd, path};
        if (errno != EEXIST)
            return {};
    }
    errno = EEXIST;
    return {};
}

void takeOverOwnerAndPermissions(int fd, const struct ::stat& old) {
    const bool root = ::geteuid() == 0;
    mode_t mode = old.st_mode & 07777;
    if (::fchown(fd, root ? old.st_uid : uid_t(-1), old.st_gid) != 0)
        mode &= ~mode_t(S_IRWXG | S_ISGID);
    if (!root && old.st_uid != ::geteuid())
        mode &= ~mode_t(S_ISUID);
    ::fchmod(fd, mode);
}

} // namespace varnel
