#include "outputfile.h"

#include "files/bytesource.h"
#include "files/filesystem.h"
#include "files/filebeside.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel::cli {

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool writesTo(int fd, const struct stat& file) {
    struct stat status;
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY && ::fstat(fd, &status) == 0 &&
           sameFile(status, file);
}

// A descriptor the program was given that already writes to `file` (/dev/stdout,
// /dev/stderr, /dev/fd/N or the file behind one of them), or -1.
int givenWriterOf(const struct stat& file) {
    std::unique_ptr<DIR, int (*)(DIR*)> open(::opendir("/proc/self/fd"), ::closedir);
    if (!open) {
        for (const int fd : {STDOUT_FILENO, STDERR_FILENO})
            if (writesTo(fd, file))
                return fd;
        return -1;
    }
    int found = -1;
    while (const dirent* entry = ::readdir(open.get())) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != 0 || fd == ::dirfd(open.get()))
            continue;
        if ((found < 0 || fd < found) && writesTo(int(fd), file))
            found = int(fd);
    }
    return found;
}

} // namespace

OutputFile::OutputFile(const QString& name) {
    const QByteArray path = encodeFileName(name);
    struct stat status;
    if (::stat(path.constData(), &status) != 0) {
        if (errno != ENOENT)
            throw systemFailure(errno);
        openBeside(path, nullptr);
        return;
    }
    if (S_ISDIR(status.st_mode))
        throw systemFailure(EISDIR);
    if (const int given = givenWriterOf(status); given >= 0) {
        // /dev/stdout, or the file it was sent to: replacing that file would drop what the
        // shell wrote there before and send what it writes after to a file no longer named.
        m_fd = given;
        m_ownsFd = false;
        return;
    }
    if (!S_ISREG(status.st_mode)) {
        do {
            m_fd = ::open(path.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        } while (m_fd < 0 && errno == EINTR);
        if (m_fd < 0)
            throw systemFailure(errno);
        return;
    }
    // Nobody's read-only file is replaced, even where the folder would allow it.
    if (::access(path.constData(), W_OK) != 0)
        throw systemFailure(errno);
    // Through links to the file they name, so a link goes on naming the new file.
    char resolved[PATH_MAX];
    if (!::realpath(path.constData(), resolved))
        throw systemFailure(errno);
    openBeside(QByteArray(resolved), &status);
}

void OutputFile::openBeside(const QByteArray& target, const struct stat* old) {
    const FileBeside file = createFileBeside(target, old != nullptr);
    if (file.fd < 0)
        throw systemFailure(errno);
    m_fd = file.fd;
    m_target = target;
    m_temporary = file.path;
    if (old)
        m_old = *old;
}

OutputFile::~OutputFile() {
    if (m_fd >= 0 && m_ownsFd)
        ::close(m_fd);
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
}

void OutputFile::write(QByteArrayView bytes) {
    writeAll(m_fd, bytes);
}

void OutputFile::commit() {
    if (m_target.isEmpty())
        return;
    // On disk before it takes the old file's place: a crash then leaves one or the other.
    if (::fdatasync(m_fd) != 0)
        throw systemFailure(errno);
    if (m_old)
        takeOverOwnerAndPermissions(m_fd, *m_old);
    const int fd = std::exchange(m_fd, -1);
    // A file system that writes late (over a network) may only now say it is full.
    if (::close(fd) != 0 && errno != EINTR)
        throw systemFailure(errno);
    if (::rename(m_temporary.constData(), m_target.constData()) != 0)
        throw systemFailure(errno);
    m_temporary.clear();
}

} // namespace varnel::cli
