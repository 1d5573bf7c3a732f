#pragma once

#include <QByteArray>

#include <sys/stat.h>

namespace varnel {

// A new file beside `target` (".NAME.RANDOM" in the same folder), open for writing, where a
// complete text is written before it takes the target's place by a rename. Made as the
// system makes any new file, or private when it is to replace an existing `target`.
// An fd of -1, with errno set, when it cannot be made.
struct FileBeside {
    int fd = -1;
    QByteArray path;
};
FileBeside createFileBeside(const QByteArray& target, bool replacing);

// Gives the file at `fd` what it takes over from the file `old` it replaces: the owner where
// the system allows (the superuser), the group where the user belongs to it, and the
// permissions, without handing rights meant for another owner or group to this one's.
// After the last write, which clears set-ID bits. Only a best effort: nothing fails.
void takeOverOwnerAndPermissions(int fd, const struct ::stat& old);

} // namespace varnel
