#pragma once

#include <QByteArrayView>
#include <QtGlobal>

namespace varnel {

// Reads and writes on a descriptor that go on through interrupted calls and short writes.

// Up to `most` bytes, 0 at the end; -1 with errno set when reading fails.
qsizetype readSome(int fd, char* into, qsizetype most);
// Writes all of `bytes`; the error that stopped it, or 0.
int writeOrFail(int fd, QByteArrayView bytes);
// Writes all of `bytes`; throws systemFailure when that fails.
void writeAll(int fd, QByteArrayView bytes);

} // namespace varnel
