#pragma once

#include <QByteArrayView>
#include <QtGlobal>

namespace varnel {

// What is left of a plain file, from where its descriptor stands to its end, mapped into
// memory rather than read: a file looked at once is not worth copying.
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
    // Leaves the descriptor past the bytes mapped, where reading them would have: what
    // shares it (a shell's redirection) goes on from there. Throws systemFailure.
    void consume();

private:
    int m_fd;
    void* m_mapping = nullptr;
    size_t m_mappingSize = 0;
    const char* m_bytes = nullptr;
    qsizetype m_size = 0;
    qint64 m_end = 0; // the file's offset the bytes end at
};

} // namespace varnel
