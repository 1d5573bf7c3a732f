#pragma once

#include "files/mappedfile.h"

#include <QByteArray>
#include <QByteArrayView>

namespace varnel {

// Reads a piece of at most `room` bytes from `fd`; 0 at the end. Throws Failure.
qsizetype readPiece(int fd, char* into, size_t room);

// A file's bytes a piece at a time, each piece starting with what decoding left of the one
// before: straight from the file's mapping where the system maps it, read into a buffer
// otherwise. A mapping spares copying every byte once more.
class FilePieces {
public:
    static constexpr qsizetype PieceSize = 256 * 1024;

    // `fd` stays the caller's.
    explicit FilePieces(int fd);
    // The next piece, holding `got` bytes new; `got` is 0 at the end. Throws Failure.
    QByteArrayView next(qsizetype& got);
    // The last `carried` bytes of `piece`, the last piece, start the next.
    void carry(QByteArrayView piece, qsizetype carried);
    qsizetype carried() const { return m_carried; }
    // Throws "Device I/O error" when the bytes given may not have been the file's: another
    // process cut it short while it was mapped, and what it no longer had read as zeros.
    void verify() const;

private:
    // What was decoded leaves the process's memory this many bytes at a time.
    static constexpr qsizetype LetGoStride = qsizetype(4) << 20;

    const int m_fd;
    MappedFile m_mapped;
    QByteArray m_buffer;
    qsizetype m_next = 0;  // the first byte of the mapping not given yet
    qsizetype m_letGo = 0; // the bytes before it are let go of
    qsizetype m_carried = 0;
};

} // namespace varnel
