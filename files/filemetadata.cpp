#include "filemetadata.h"

#include <QByteArray>
#include <QList>

#include <optional>

#include <cerrno>
#include <cstring>

#include <sys/xattr.h>
#include <unistd.h>

namespace varnel {

namespace {

// A POSIX ACL is this extended attribute; the permission bits are a view of part of it.
constexpr char AclName[] = "system.posix_acl_access";

bool unsupported(int error) {
    return error == ENOTSUP || error == EOPNOTSUPP;
}

// The names of the file's extended attributes; none where the file system keeps none.
std::optional<QList<QByteArray>> attributeNames(int fd) {
    QByteArray list;
    for (;;) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0)
            return unsupported(errno) ? std::optional(QList<QByteArray>{}) : std::nullopt;
        list.resize(size);
        const ssize_t got = size == 0 ? 0 : ::flistxattr(fd, list.data(), size_t(size));
        if (got >= 0) {
            list.truncate(got);
            break;
        }
        if (errno != ERANGE) // it grew meanwhile: ask again
            return std::nullopt;
    }
    QList<QByteArray> names = list.split('\0');
    names.removeAll(QByteArray());
    return names;
}

bool copyAttribute(int from, const char* name, int to) {
    QByteArray value;
    for (;;) {
        const ssize_t size = ::fgetxattr(from, name, nullptr, 0);
        if (size < 0)
            return errno == ENODATA; // gone meanwhile: nothing to keep
        value.resize(size);
        const ssize_t got = size == 0 ? 0 : ::fgetxattr(from, name, value.data(), size_t(size));
        if (got >= 0) {
            value.truncate(got);
            break;
        }
        if (errno != ERANGE)
            return false;
    }
    return ::fsetxattr(to, name, value.constData(), size_t(value.size()), 0) == 0;
}

} // namespace

bool takeOverMetadata(int from, const struct stat& old, int to) {
    struct stat now;
    if (::fstat(to, &now) != 0)
        return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        ::fchown(to, old.st_uid, old.st_gid) != 0)
        return false;
    const std::optional<QList<QByteArray>> names = attributeNames(from);
    if (!names)
        return false;
    const bool hasAcl = names->contains(QByteArrayView(AclName));
    // A folder's default ACL gave the new file one the old file did not have.
    if (!hasAcl && ::fremovexattr(to, AclName) != 0 && errno != ENODATA && !unsupported(errno))
        return false;
    if (::fchmod(to, old.st_mode & 07777) != 0)
        return false;
    for (const QByteArray& name : *names) {
        if (name != AclName && !copyAttribute(from, name.constData(), to))
            return false;
    }
    // Last: changing the permission bits rewrites the ACL's mask entry.
    if (hasAcl && !copyAttribute(from, AclName, to))
        return false;
    // The system may drop a set-group-ID bit silently rather than refuse it.
    return ::fstat(to, &now) == 0 && now.st_uid == old.st_uid && now.st_gid == old.st_gid &&
           (now.st_mode & 07777) == (old.st_mode & 07777);
}

std::optional<FileIdentity> identityOf(int fd) {
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return FileIdentity::of(status);
}

std::optional<FileIdentity> identityOf(const char* path) {
    struct stat status;
    if (::stat(path, &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return FileIdentity::of(status);
}

} // namespace varnel
