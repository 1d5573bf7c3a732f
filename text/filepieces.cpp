#include "filepieces.h"

#include "core/failure.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace varnel {

qsizetype readPiece(int fd, char* into, size_t room) {
    for (;;) {
        const ssize_t got = ::read(fd, into, room);
        if (got >= 0)
            return qsizetype(got);
        if (errno != EINTR)
            throw failures::fromErrno(errno);
    }
}

FilePieces::FilePieces(int fd)
    : m_fd(fd)
    , m_mapped(fd) {
    // A sequence cut by the end of a piece starts the next one: three bytes at most.
    if (!m_mapped.isMapped())
        m_buffer = QByteArray(PieceSize + 3, Qt::Uninitialized);
}

QByteArrayView FilePieces::next(qsizetype& got) {
    if (m_mapped.isMapped()) {
        const QByteArrayView all = m_mapped.bytes();
        const qsizetype end = std::min(all.size(), m_next + PieceSize);
        got = end - m_next;
        const qsizetype from = m_next - m_carried;
        m_next = end;
        if (from - m_letGo >= LetGoStride) {
            m_mapped.letGoBefore(from);
            m_letGo = from;
        }
        return all.sliced(from, end - from);
    }
    got = readPiece(m_fd, m_buffer.data() + m_carried, PieceSize);
    return {m_buffer.constData(), m_carried + got};
}

void FilePieces::carry(QByteArrayView piece, qsizetype carried) {
    if (!m_mapped.isMapped())
        std::memmove(m_buffer.data(), piece.data() + piece.size() - carried, size_t(carried));
    m_carried = carried;
}

void FilePieces::verify() const {
    try {
        m_mapped.verify();
    } catch (const Failure&) {
        throw failures::deviceIoError();
    }
}

} // namespace varnel
