#include "outputfile.h"

#include "lists/bytesource.h"
#include "lists/filesystem.h"

#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel::cli {

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
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
    struct stat standardOutput;
    if (::fstat(STDOUT_FILENO, &standardOutput) == 0 && sameFile(status, standardOutput)) {
        // /dev/stdout, or the file it was sent to: replacing that file would drop what the
        // shell wrote there before and send what it writes after to a file no longer named.
        m_fd = STDOUT_FILENO;
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
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder =
        slash < 0 ? QByteArray(".") : target.left(std::max<qsizetype>(slash, 1));
    const QByteArray base = target.mid(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray temporary = folder + "/." + base + '.' +
                                     QByteArray::number(QRandomGenerator::global()->generate(), 36);
        // A new file is made as the system makes any new file; a replacement starts private
        // and then takes the old one's permissions.
        const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              old ? 0600 : 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            throw systemFailure(errno);
        m_fd = fd;
        m_target = target;
        m_temporary = temporary;
        if (old)
            m_old = *old;
        return;
    }
    throw systemFailure(EEXIST);
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
    if (m_old) {
        // Only now: a write clears set-user-ID bits. Only the superuser may give a file
        // away; anyone else's replacement is their own.
        if (::geteuid() == 0)
            (void)::fchown(m_fd, m_old->st_uid, m_old->st_gid);
        ::fchmod(m_fd, m_old->st_mode & 07777);
    }
    const int fd = std::exchange(m_fd, -1);
    // A file system that writes late (over a network) may only now say it is full.
    if (::close(fd) != 0 && errno != EINTR)
        throw systemFailure(errno);
    if (::rename(m_temporary.constData(), m_target.constData()) != 0)
        throw systemFailure(errno);
    m_temporary.clear();
}

} // namespace varnel::cli
