#include "descriptorio.h"

#include "systemfailure.h"

#include <cerrno>
#include <unistd.h>

namespace varnel {

qsizetype readSome(int fd, char* into, qsizetype most) {
    for (;;) {
        const ssize_t got = ::read(fd, into, size_t(most));
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

int writeOrFail(int fd, QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(fd, bytes.data(), size_t(bytes.size()));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        bytes = bytes.sliced(written);
    }
    return 0;
}

void writeAll(int fd, QByteArrayView bytes) {
    if (const int error = writeOrFail(fd, bytes))
        throw systemFailure(error);
}

} // namespace varnel
