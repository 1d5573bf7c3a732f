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

TemporaryFileFailure::TemporaryFileFailure(int error, const QString& folder)
    : Failure(systemFailure(error).number(),
              systemFailure(error).description() +
                  QStringLiteral(" (a temporary file in %1)").arg(folder))
    , m_folder(folder)
    , m_reason(systemFailure(error).description()) {}

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

qsizetype readSome(int fd, char* into, qsizetype most, const QString* temporaryFolder) {
    for (;;) {
        const ssize_t got = ::read(fd, into, size_t(most));
        if (got >= 0)
            return got;
        if (errno == EINTR)
            continue;
        if (temporaryFolder)
            throw TemporaryFileFailure(errno, *temporaryFolder);
        throw systemFailure(errno);
    }
}

// Writes all of `bytes`; the error that stopped it, or 0.
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

} // namespace

UnnamedFile::UnnamedFile() {
    // TMPDIR first; Qt names no folder at all when it is missing, which must not become "/".
    const QByteArray chosen = QFile::encodeName(QDir::tempPath());
    const QByteArray named = chosen.isEmpty() ? qgetenv("TMPDIR") : chosen;
    QList<QByteArray> folders{"/tmp", "/var/tmp"};
    if (!chosen.isEmpty())
        folders.prepend(chosen);
    // The failure reported is the first folder's: the one the user chose, if any.
    int error = chosen.isEmpty() && !named.isEmpty() ? ENOENT : 0;
    for (const QByteArray& folder : std::as_const(folders)) {
        m_fd = openUnnamedFileIn(folder);
        if (m_fd >= 0) {
            m_folder = QFile::decodeName(folder);
            return;
        }
        if (error == 0)
            error = errno;
    }
    throw TemporaryFileFailure(error, QFile::decodeName(named.isEmpty() ? folders.first() : named));
}

UnnamedFile::~UnnamedFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void UnnamedFile::write(QByteArrayView bytes) {
    if (const int error = writeOrFail(m_fd, bytes))
        throw TemporaryFileFailure(error, m_folder);
}

void UnnamedFile::rewind() {
    if (::lseek(m_fd, 0, SEEK_SET) < 0)
        throw TemporaryFileFailure(errno, m_folder);
}

qsizetype UnnamedFile::read(char* into, qsizetype most) {
    return readSome(m_fd, into, most, &m_folder);
}

void writeAll(int fd, QByteArrayView bytes) {
    if (const int error = writeOrFail(fd, bytes))
        throw systemFailure(error);
}

ByteSource::ByteSource(int fd)
    : m_fd(fd) {
    struct stat status;
    m_plain = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (m_plain) {
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        m_plain = at >= 0;
        m_start = at;
    }
}

ByteSource::~ByteSource() = default;

qsizetype ByteSource::read(char* into, qsizetype most) {
    if (m_kept) {
        const qsizetype got = m_kept->read(into, most);
        if (got > 0)
            return got;
        m_kept.reset();
    }
    // A terminal gives its end once and then waits for more.
    if (m_ended)
        return 0;
    const qsizetype got = readSome(m_fd, into, most, nullptr);
    m_ended = got == 0;
    return got;
}

void ByteSource::rewind(qint64 offset) {
    Q_ASSERT(m_plain && !m_kept);
    if (::lseek(m_fd, off_t(m_start + offset), SEEK_SET) < 0)
        throw systemFailure(errno);
    m_ended = false;
}

void ByteSource::lookAhead(const std::function<bool(QByteArrayView)>& look, char* scratch,
                           qsizetype size) {
    Q_ASSERT(!m_kept); // once, so nothing kept is read past
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
    auto kept = std::make_unique<UnnamedFile>();
    for (qsizetype got; (got = read(scratch, size)) > 0;) {
        kept->write(QByteArrayView(scratch, got));
        if (!look(QByteArrayView(scratch, got)))
            break;
    }
    kept->rewind();
    m_kept = std::move(kept);
}

} // namespace varnel
