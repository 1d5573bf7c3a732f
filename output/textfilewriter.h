#pragma once

#include <QByteArray>
#include <QString>
#include <QStringEncoder>
#include <QStringView>

#include "order/linetext.h"

#include <optional>

#include <sys/stat.h>

namespace varnel {

// Writes a text file as UTF-8 lines ending in CR LF. A plain file, new or existing, is
// replaced only by a complete new one: the text goes to a temporary file beside it, which
// takes the old one's place once every byte is on disk and is removed otherwise (also when
// the writer is destroyed unfinished). A device that takes writes (/dev/null) has no place
// for a file beside it and is written directly. Failures carry the system's own error
// number, mapped by failures::fromErrno.
class TextFileWriter {
public:
    TextFileWriter() = default;
    ~TextFileWriter();
    TextFileWriter(const TextFileWriter&) = delete;
    TextFileWriter& operator=(const TextFileWriter&) = delete;

    // Throws Failure when `path` cannot be written. A folder, a named pipe and a socket are
    // refused before anything is opened: opening a pipe would wait for a reader forever.
    void open(const QString& path);
    bool isOpen() const { return m_fd >= 0; }

    void writeLine(LineText text);

    // Puts what was written in place when `complete`; otherwise an old file stays as it was.
    void finish(bool complete);

private:
    void writeWideLine(QStringView text);
    void openDevice(const QByteArray& name);
    void openBeside(const QByteArray& target, const struct ::stat* old);
    void flush();
    void close();
    void discard();
    [[noreturn]] void fail(int error);
    static void closeAside(int fd);

    int m_fd = -1;
    QByteArray m_target;                // the file a complete text replaces; empty for a device
    QByteArray m_temporary;             // where the text goes until then
    std::optional<struct ::stat> m_old; // the file it replaces
    QByteArray m_buffer;
    qint64 m_written = 0;      // bytes in the file so far
    qint64 m_handedToDisk = 0; // of which the disk has been asked to start writing
    QStringEncoder m_encoder{QStringConverter::Utf8, QStringConverter::Flag::Stateless};
};

} // namespace varnel
