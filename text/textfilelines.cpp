#include "textfilelines.h"

#include "core/failure.h"
#include "core/memorypolicy.h"
#include "files/filesystem.h"
#include "latin1lines.h"
#include "linebreaks.h"
#include "order/linetext.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

namespace {

// What one line costs beyond its characters: its span while loading, its place in the list.
constexpr qint64 LineOverhead = qint64(sizeof(LineSpan)) + 16;

void checkMemory(qint64 needed, qint64 budget) {
    if (needed > budget)
        throw failures::outOfMemory();
}

class Descriptor {
public:
    explicit Descriptor(int fd)
        : m_fd(fd) {}
    ~Descriptor() { ::close(m_fd); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// At its peak a file is held as its bytes and as UTF-16 at once, or, read one byte a
// character until a wider one turns up, as both forms of its text: three bytes a byte at most.
constexpr qint64 PeakBytesPerFileByte = 3;

// Opens the plain file at `path` for reading; throws when it is anything else.
int openPlainFile(const QString& path, qint64& size) {
    const QByteArray name = encodeFileName(path);
    int fd;
    // Without blocking: opening a named pipe would otherwise wait for a writer forever.
    do {
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw failures::fromErrno(errno);
    struct stat status;
    const int statError = ::fstat(fd, &status) != 0 ? errno : 0;
    if (statError != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        if (statError != 0)
            throw failures::fromErrno(statError);
        // A folder, a pipe, a socket or a device is no list: a pipe or a terminal can
        // block, and a device such as /dev/zero never ends.
        throw Failure(ErrorNumber::PathFileAccessError, QStringLiteral("Path/File access error"));
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    size = qint64(status.st_size);
    return fd;
}

// Reads a piece of at most `room` bytes; 0 at the end.
qsizetype readPiece(int fd, char* into, size_t room) {
    for (;;) {
        const ssize_t got = ::read(fd, into, room);
        if (got >= 0)
            return qsizetype(got);
        if (errno != EINTR)
            throw failures::fromErrno(errno);
    }
}

// Where the reader looks whether it should stop.
class StopPoints {
public:
    explicit StopPoints(const ReadStops& stops)
        : m_stops(stops) {}
    void reached(qint64 bytes) const {
        if (m_stops.reached)
            m_stops.reached(bytes);
        if (m_stops.stop && m_stops.stop->load(std::memory_order_relaxed))
            throw ProgramEnding{};
    }

private:
    const ReadStops& m_stops;
};

// The bytes of a file, read a piece at a time into the buffer that becomes its text: each
// piece is decoded and cut while it is still in the cache.
class FileRead {
public:
    static constexpr qsizetype PieceSize = qsizetype(1) << 20;

    FileRead(int fd, qint64 expected, qint64 budget, const StopPoints& stops)
        : m_fd(fd)
        , m_budget(budget)
        , m_stops(stops)
        , m_bytes(qsizetype(expected), Qt::Uninitialized) {
        // Faulted in at once, not a page at a time while the system copies into it.
        prefault(m_bytes.data(), m_bytes.size());
    }

    // Reads the next piece; false at the end of the file.
    bool readPiece() {
        qsizetype got;
        if (m_filled < m_bytes.size()) {
            got = varnel::readPiece(m_fd, m_bytes.data() + m_filled,
                                    size_t(std::min(PieceSize, m_bytes.size() - m_filled)));
        } else {
            // The file is longer than it said (or never said): it still has to fit.
            char spare[65536];
            got = varnel::readPiece(m_fd, spare, sizeof spare);
            if (got > 0) {
                checkMemory((m_filled + got) * PeakBytesPerFileByte, m_budget);
                m_bytes.truncate(m_filled);
                m_bytes.append(spare, got);
            }
        }
        if (got == 0) {
            m_bytes.truncate(m_filled);
            return false;
        }
        m_filled += got;
        if (m_filled >= m_nextStop) {
            m_stops.reached(m_filled);
            m_nextStop = m_filled + ReadStops::ReadStopStride;
        }
        return true;
    }
    qsizetype filled() const { return m_filled; }
    char* data() { return m_bytes.data(); }
    QByteArray& bytes() { return m_bytes; }

private:
    const int m_fd;
    const qint64 m_budget;
    const StopPoints& m_stops;
    QByteArray m_bytes;
    qsizetype m_filled = 0;
    qint64 m_nextStop = ReadStops::ReadStopStride;
};

// The lines of a text decoded some other way than one byte a character.
TextFile decodedWhole(QByteArray bytes, qint64 budget, const StopPoints& stops) {
    TextFile read;
    read.text = decodeTextFile(bytes);
    bytes = QByteArray();
    stops.reached(read.text.size());
    const qsizetype count = countBreaks(read.text.utf16(), read.text.size()) + 1;
    checkMemory(qint64(read.text.size()) * 2 + qint64(count) * LineOverhead, budget);
    read.lines = lineSpansOf(read.text);
    return read;
}

TextFile readDecodedFile(const QString& path, qint64 budget, const StopPoints& stops) {
    qint64 expected = 0;
    const Descriptor descriptor(openPlainFile(path, expected));
    // /proc files and the like say 0 and still have content, so the size is only a start.
    if (expected > std::numeric_limits<qint64>::max() / PeakBytesPerFileByte)
        throw failures::outOfMemory();
    checkMemory(expected * PeakBytesPerFileByte, budget);
    FileRead file(descriptor.get(), expected, budget, stops);
    std::vector<LineSpan> lines;
    // Strict UTF-8 of characters below U+0100, marked or not, the common case, is decoded
    // where it was read; until it turns out to be something else.
    std::optional<Latin1LineCutter> cutter;
    ByteOrderMark mark;
    bool decided = false;
    bool ended = false;
    bool first = true;
    while (!ended) {
        ended = !file.readPiece();
        if (!decided && (file.filled() >= LongestByteOrderMark || ended)) {
            decided = true;
            mark = byteOrderMarkOf(QByteArrayView(file.data(), file.filled()));
            if (!mark.isUtf16())
                cutter.emplace(file.data(), mark.length, 0, lines);
        }
        if (!cutter)
            continue;
        cutter->moved(file.data());
        // Spans address the text with 32-bit offsets.
        if (file.filled() > qsizetype(std::numeric_limits<quint32>::max()) + mark.length)
            throw failures::outOfMemory();
        if (!cutter->take(file.filled(), ended)) {
            // Not one byte a character: the bytes as they were, for the rules in full.
            cutter->restore();
            std::memcpy(file.data(), "\xEF\xBB\xBF", size_t(mark.length));
            cutter.reset();
            lines = {};
            continue;
        }
        checkMemory(qint64(file.filled()) + qint64(lines.size() + 1) * LineOverhead, budget);
        // The first piece tells about how many lines the file holds.
        if (first && file.filled() < expected) {
            const double share = double(expected) / double(file.filled());
            lines.reserve(size_t(double(lines.size() + 1) * share * 1.1));
            prefault(lines.data() + lines.size(),
                     qint64((lines.capacity() - lines.size()) * sizeof(LineSpan)));
        }
        first = false;
    }
    if (!cutter)
        return decodedWhole(std::move(file.bytes()), budget, stops);
    TextFile read;
    read.latin1 = std::move(file.bytes());
    read.latin1.truncate(cutter->written());
    read.latin1.squeeze();
    read.isLatin1 = true;
    read.lines = std::move(lines);
    if (read.lines.capacity() > read.lines.size() + read.lines.size() / 4)
        read.lines.shrink_to_fit();
    return read;
}

} // namespace

TextFile readTextFile(const QString& path, qint64 memoryBudget, const ReadStops& stops) {
    const qint64 budget = memoryBudget < 0 ? availableMemory() : memoryBudget;
    const StopPoints stopPoints(stops);
    try {
        return readDecodedFile(path, budget, stopPoints);
    } catch (const std::bad_alloc&) {
        throw failures::outOfMemory();
    }
}

} // namespace varnel
