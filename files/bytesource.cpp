#include "bytesource.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

Failure systemFailure(int error) {
    return {failures::fromErrno(error).number(), QString::fromLocal8Bit(std::strerror(error))};
}

namespace {

int openUnnamedFileIn(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    // A file system without unnamed files: a named one, unlinked at once.
    QByteArray name = folder + "/varnel-XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0)
        ::unlink(name.constData());
    return named;
}

} // namespace

int openUnnamedFile() {
    // TMPDIR first; Qt names no folder at all when it is missing, which must not become "/".
    const QByteArray chosen = QFile::encodeName(QDir::tempPath());
    const QByteArray named = chosen.isEmpty() ? qgetenv("TMPDIR") : chosen;
    QList<QByteArray> folders{"/tmp", "/var/tmp"};
    if (!chosen.isEmpty())
        folders.prepend(chosen);
    // The failure reported is the first folder's: the one the user chose, if any.
    int error = chosen.isEmpty() && !named.isEmpty() ? ENOENT : 0;
    for (const QByteArray& folder : std::as_const(folders)) {
        const int fd = openUnnamedFileIn(folder);
        if (fd >= 0)
            return fd;
        if (error == 0)
            error = errno;
    }
    const Failure failure = systemFailure(error);
    const QString where = QFile::decodeName(named.isEmpty() ? folders.first() : named);
    throw Failure(failure.number(),
                  failure.description() + QStringLiteral(" (a temporary file in %1)").arg(where));
}

void writeAll(int fd, QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(fd, bytes.data(), size_t(bytes.size()));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throw systemFailure(errno);
        }
        bytes = bytes.sliced(written);
    }
}

namespace {

bool isPlain(int fd) {
    struct stat status;
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

} // namespace

ByteSource::ByteSource(int fd)
    : m_fd(fd)
    , m_plain(isPlain(fd)) {}

ByteSource::~ByteSource() {
    if (m_kept >= 0)
        ::close(m_kept);
}

qsizetype ByteSource::readFrom(int fd, char* into, qsizetype most) {
    for (;;) {
        const ssize_t got = ::read(fd, into, size_t(most));
        if (got >= 0)
            return got;
        if (errno != EINTR)
            throw systemFailure(errno);
    }
}

qsizetype ByteSource::read(char* into, qsizetype most) {
    if (m_kept >= 0) {
        const qsizetype got = readFrom(m_kept, into, most);
        if (got > 0)
            return got;
        ::close(m_kept);
        m_kept = -1;
    }
    // A terminal gives its end once and then waits for more.
    if (m_ended)
        return 0;
    const qsizetype got = readFrom(m_fd, into, most);
    m_ended = got == 0;
    return got;
}

void ByteSource::rewind(qint64 offset) {
    Q_ASSERT(m_plain && m_kept < 0);
    if (::lseek(m_fd, off_t(offset), SEEK_SET) < 0)
        throw systemFailure(errno);
    m_ended = false;
}

void ByteSource::lookAhead(const std::function<bool(QByteArrayView)>& look, char* scratch,
                           qsizetype size) {
    Q_ASSERT(m_kept < 0); // once, so nothing kept is read past
    if (m_plain) {
        const off_t back = ::lseek(m_fd, 0, SEEK_CUR);
        if (back < 0)
            throw systemFailure(errno);
        for (qsizetype got; (got = read(scratch, size)) > 0;) {
            if (!look(QByteArrayView(scratch, got)))
                break;
        }
        if (::lseek(m_fd, back, SEEK_SET) < 0)
            throw systemFailure(errno);
        m_ended = false;
        return;
    }
    const int kept = openUnnamedFile();
    try {
        for (qsizetype got; (got = read(scratch, size)) > 0;) {
            writeAll(kept, QByteArrayView(scratch, got));
            if (!look(QByteArrayView(scratch, got)))
                break;
        }
        if (::lseek(kept, 0, SEEK_SET) < 0)
            throw systemFailure(errno);
    } catch (...) {
        ::close(kept);
        throw;
    }
    m_kept = kept;
}

} // namespace varnel
