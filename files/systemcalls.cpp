#include "systemcalls.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

namespace {

int openAt(int folder, const char* path, int flags, mode_t mode) {
    return ::openat(folder, path, flags, mode);
}

} // namespace

SystemCalls& systemCalls() {
    static SystemCalls calls{openAt,      ::write,  ::fdatasync, ::fsync, ::fallocate,
                             ::ftruncate, ::linkat, ::renameat,  ::close};
    return calls;
}

} // namespace varnel
