#pragma once

#include <sys/types.h>

namespace varnel {

// The system calls by which a file's new content reaches the disk and takes the old one's
// place, or is copied over it with the old content kept aside. Each is the system's own; a test
// puts a failing one in for a moment to see that every failure leaves the old file whole and no
// temporary behind.
struct SystemCalls {
    int (*openat)(int folder, const char* path, int flags, mode_t mode);
    ssize_t (*write)(int fd, const void* data, size_t size);
    int (*fdatasync)(int fd);
    int (*fsync)(int fd);
    int (*fallocate)(int fd, int mode, off_t offset, off_t length);
    int (*ftruncate)(int fd, off_t length);
    int (*linkat)(int fromFolder, const char* from, int toFolder, const char* to, int flags);
    int (*renameat)(int fromFolder, const char* from, int toFolder, const char* to);
    int (*close)(int fd);
};

SystemCalls& systemCalls();

} // namespace varnel
