#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <memory>

namespace varnel {

class UnnamedFile;

// The bytes of an open descriptor (a file, a pipe, a terminal) from where it stands when
// given, with one look ahead. Failures are systemFailure.
class ByteSource {
public:
    // `fd` stays the caller's.
    explicit ByteSource(int fd);
    ~ByteSource();
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    // Up to `most` bytes, 0 at the end.
    qsizetype read(char* into, qsizetype most);

    // A plain file can be read again from any place: `offset` bytes after where this source
    // started, which is not the file's start when what the descriptor gave before was
    // someone else's (a shell's "read", a "head" before this program).
    bool isPlainFile() const { return m_plain; }
    void rewind(qint64 offset);

    // Shows the bytes still to come to `look`, a block at a time, until it returns false or
    // the input ends; the reads after it give the same bytes again. A plain file is simply
    // read again from here; a pipe or a terminal cannot be, so what it gave meanwhile is
    // kept in an unnamed temporary file (disk, not memory) and read back first. Once only.
    void lookAhead(const std::function<bool(QByteArrayView)>& look, char* scratch, qsizetype size);

private:
    int m_fd;
    bool m_plain;
    qint64 m_start = 0;                  // the descriptor's offset when given, for a plain file
    std::unique_ptr<UnnamedFile> m_kept; // being read back, or none
    bool m_ended = false;
};

} // namespace varnel
