#pragma once

#include <QByteArray>

namespace varnel {

// The descriptor that /dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N or /proc/self/fd/N
// names, open or not; -1 for any other name. Such a name is the caller's own descriptor: it
// is read or written where it stands, as the shell would.
int givenDescriptor(const QByteArray& path);

// The folder of `path` ("." for a bare name) and its last component.
QByteArray folderOf(const QByteArray& path);
QByteArray baseOf(const QByteArray& path);

// The name that links starting at `path` end at, which need not exist yet: a link to a file
// not yet made stays a link, to the file now made. Empty, with errno set, on a loop.
QByteArray followLinks(QByteArray path);

} // namespace varnel
