#include "failure.h"

#include <cerrno>
#include <cstring>

namespace varnel::failures {

Failure indexOutOfBounds() {
    return {ErrorNumber::IndexOutOfBounds, QStringLiteral("Index out of bounds")};
}
Failure fileNotFound() {
    return {ErrorNumber::FileNotFound, QStringLiteral("File not found")};
}
Failure pathNotFound() {
    return {ErrorNumber::PathNotFound, QStringLiteral("Path not found")};
}
Failure permissionDenied() {
    return {ErrorNumber::PermissionDenied, QStringLiteral("Permission denied")};
}
Failure diskFull() {
    return {ErrorNumber::DiskFull, QStringLiteral("Disk full")};
}
Failure outOfMemory() {
    return {ErrorNumber::OutOfMemory, QStringLiteral("Out of memory")};
}
Failure deviceIoError() {
    return {ErrorNumber::DeviceIoError, QStringLiteral("Device I/O error")};
}

Failure fromErrno(int error) {
    switch (error) {
    case ENOENT:
        return fileNotFound();
    case ENOTDIR:
        return pathNotFound();
    case EACCES:
    case EPERM:
    case EROFS:
        return permissionDenied();
    case ENOSPC:
    case EDQUOT:
        return diskFull();
    case ENOMEM:
        return outOfMemory();
    case EISDIR:
        return {ErrorNumber::PathFileAccessError, QStringLiteral("Path/File access error")};
    case EIO:
        return deviceIoError();
    default:
        return {ErrorNumber::DeviceIoError, QString::fromLocal8Bit(std::strerror(error))};
    }
}

} // namespace varnel::failures
