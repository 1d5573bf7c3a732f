#pragma once

#include "core/failure.h"

#include <QByteArrayView>
#include <QtGlobal>

namespace varnel {

// The file was cut short while it was mapped. It reads as an input/output error where
// nothing says more; the command line names it for what it is.
class FileChangedFailure : public Failure {
public:
    FileChangedFailure();
};

// What is left of a plain file, from where its descriptor stands to its end, mapped into
// memory rather than read: a file looked at once is not worth copying.
//
// Another process may cut the file short while it is mapped. Touching a page past the new
// end then faults; the program neither dies of it nor takes the bytes it reads there as the
// file's: the page reads as zeros and the file is marked changed, which verify() tells.
class MappedFile {
public:
    // `fd` stays the caller's and does not move. Nothing is mapped for a pipe, a terminal,
    // an empty rest or a file the system will not map: those are read as they come.
    explicit MappedFile(int fd);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool isMapped() const { return m_bytes != nullptr; }
    QByteArrayView bytes() const { return {m_bytes, m_size}; }
    // Throws FileChangedFailure (an input/output error) once the file has been cut short since
    // it was mapped: what was read from the bytes since then may not be the file's. Called
    // after reading and before anything made of what was read leaves the program. Without
    // `askSize`, only a page touched past the end tells, which is cheap enough to ask before
    // each use of what was read; only the size tells of a cut within the last page.
    void verify(bool askSize = true) const;
    // The pages wholly before `offset` of the bytes are not to be read again: they leave the
    // process's memory, which would otherwise count the whole file by the time it is read.
    // The file's pages stay with the system, and reading them again maps them again.
    void letGoBefore(qsizetype offset);
    // Leaves the descriptor past the bytes mapped, where reading them would have: what
    // shares it (a shell's redirection) goes on from there. Throws systemFailure.
    void consume();

private:
    int m_fd;
    int m_slot = -1; // where the mapping is known to the fault handler
    void* m_mapping = nullptr;
    size_t m_mappingSize = 0;
    const char* m_bytes = nullptr;
    qsizetype m_size = 0;
    qint64 m_end = 0; // the file's offset the bytes end at
};

} // namespace varnel
