#pragma once

#include <optional>

#include <sys/stat.h>

namespace varnel {

// What tells that a file is no longer what was read: another file under its name, or the
// same file with another size or modification time (to the nanosecond the system keeps).
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified {};

    static FileIdentity of(const struct ::stat& status) {
        return {status.st_dev, status.st_ino, status.st_size, status.st_mtim};
    }
    bool isFile(const struct ::stat& status) const {
        return status.st_dev == device && status.st_ino == inode;
    }
    bool operator==(const FileIdentity& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

// The identity of the plain file a descriptor or a path (links followed) leads to; none for
// anything else, or when it cannot be looked at.
std::optional<FileIdentity> identityOf(int fd);
std::optional<FileIdentity> identityOf(const char* path);

// Gives the new file at `to` what the file at `from` (described by `old`) has: its owner and
// group, its permissions, its extended attributes and its POSIX ACL. False when the system
// refuses any of it (another user's file, a group the user is not in, an attribute only the
// superuser may set): the new file would then not be the file it replaces.
bool takeOverMetadata(int from, const struct ::stat& old, int to);

} // namespace varnel
