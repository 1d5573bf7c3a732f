#include "unnamedfile.h"

#include "descriptorio.h"
#include "temporaryfilefailure.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace varnel {

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
    const qsizetype got = readSome(m_fd, into, most);
    if (got < 0)
        throw TemporaryFileFailure(errno, m_folder);
    return got;
}

} // namespace varnel
