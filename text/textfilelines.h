#pragma once

#include "lineplaces.h"
#include "textdecoding.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <vector>

namespace varnel {

// A text file as the list takes it: the decoded text, and where each line lies in it
// (text/linebreaks.h). The breaks between lines may be left out of the text, so that a line
// follows the one before directly. The text is held one byte a character (Latin-1) when
// every character is below U+0100.
struct TextFile {
    QString text;
    QByteArray latin1; // the text instead, when isLatin1
    bool isLatin1 = false;
    LinePlaces lines;
};

// Where a long read may be stopped: it looks every ReadStopStride bytes read or so.
struct ReadStops {
    static constexpr qint64 ReadStopStride = qint64(4) << 20;
    // Once set, the read ends with ProgramEnding and gives nothing.
    const std::atomic<bool>* stop = nullptr;
    // Told the bytes read so far right before each look at `stop`, on the reading thread.
    std::function<void(qint64)> reached;
};

// The plain file at a path, open for reading, with the size it had then: one look at the
// file tells a command how large it is and the reader where it ends. Throws Failure when the
// path cannot be opened or is not a plain file (a folder, a device or a pipe, which could
// block or never end).
class OpenTextFile {
public:
    explicit OpenTextFile(const QString& path);
    ~OpenTextFile();
    OpenTextFile(const OpenTextFile&) = delete;
    OpenTextFile& operator=(const OpenTextFile&) = delete;

    int fd() const { return m_fd; }
    qint64 size() const { return m_size; }

private:
    int m_fd = -1;
    qint64 m_size = 0;
};

// Reads a file opened and not read yet, decoded by the rules of text/textdecoding.h.
// Throws Failure when it cannot be read, and "Out of memory" before reading (or before
// finding the lines) when that would take more than `memoryBudget` bytes; a negative budget
// asks the system.
TextFile readTextFile(const OpenTextFile& file, qint64 memoryBudget = -1,
                      const ReadStops& stops = {});
// The same for the plain file at `path`, opened as OpenTextFile opens it.
TextFile readTextFile(const QString& path, qint64 memoryBudget = -1, const ReadStops& stops = {});

} // namespace varnel
