#include "bytesource.h"

#include "descriptorio.h"
#include "systemfailure.h"
#include "unnamedfile.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

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
    const qsizetype got = readSome(m_fd, into, most);
    if (got < 0)
        throw systemFailure(errno);
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
