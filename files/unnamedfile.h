#pragma once

#include <QByteArrayView>
#include <QString>

#include <utility>

namespace varnel {

// A temporary file without a name, for reading and writing: nothing is left behind,
// whatever ends the program. Failures are TemporaryFileFailure.
class UnnamedFile {
public:
    UnnamedFile();
    ~UnnamedFile();
    UnnamedFile(const UnnamedFile&) = delete;
    UnnamedFile& operator=(const UnnamedFile&) = delete;

    int fd() const { return m_fd; }
    // Hands the descriptor over: the caller closes it.
    int release() { return std::exchange(m_fd, -1); }
    const QString& folder() const { return m_folder; }
    void write(QByteArrayView bytes);
    // Reads from the start from here on.
    void rewind();
    // Up to `most` bytes, 0 at the end.
    qsizetype read(char* into, qsizetype most);

private:
    int m_fd = -1;
    QString m_folder;
};

} // namespace varnel
