#pragma once

#include "core/failure.h"

#include <QByteArrayView>

#include <functional>

namespace varnel {

// A failure in the system's own words (strerror), as command-line programs report them.
Failure systemFailure(int error);

// A temporary file without a name, for reading and writing: nothing is left behind,
// whatever ends the program.
int openUnnamedFile();
void writeAll(int fd, QByteArrayView bytes);

// The bytes of an open descriptor (a file, a pipe, a terminal), with one look ahead.
// Failures are systemFailure.
class ByteSource {
public:
    // `fd` stays the caller's.
    explicit ByteSource(int fd);
    ~ByteSource();
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    // Up to `most` bytes, 0 at the end.
    qsizetype read(char* into, qsizetype most);

    // A plain file can be read again from any place.
    bool isPlainFile() const { return m_plain; }
    void rewind(qint64 offset);

    // Shows the bytes still to come to `look`, a block at a time, until it returns false or
    // the input ends; the reads after it give the same bytes again. A plain file is simply
    // read again from here; a pipe or a terminal cannot be, so what it gave meanwhile is
    // kept in an unnamed temporary file (disk, not memory) and read back first. Once only.
    void lookAhead(const std::function<bool(QByteArrayView)>& look, char* scratch, qsizetype size);

private:
    qsizetype readFrom(int fd, char* into, qsizetype most);

    int m_fd;
    bool m_plain;
    int m_kept = -1; // the temporary file being read back, or -1
    bool m_ended = false;
};

} // namespace varnel
