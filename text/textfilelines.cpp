#include "textfilelines.h"

#include "core/failure.h"
#include "core/memorypolicy.h"
#include "filepieces.h"
#include "files/filesystem.h"
#include "linebreaks.h"
#include "order/linetext.h"
#include "utf8pieces.h"

#include <QScopeGuard>

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
constexpr qint64 LineOverhead = qint64(sizeof(StoredLine)) + 16;

void checkMemory(qint64 needed, qint64 budget) {
    if (needed > budget)
        throw failures::outOfMemory();
}

// At its peak a file is held as its bytes and as UTF-16 at once, or, read one byte a
// character until a wider one turns up, as both forms of its text: three bytes a byte at most.
constexpr qint64 PeakBytesPerFileByte = 3;

// Where the reader looks whether it should stop.
class StopPoints {
public:
    explicit StopPoints(const ReadStops& stops)
        : m_stops(stops) {}
    // `bytes` have been read so far.
    void reached(qint64 bytes) {
        if (bytes < m_next)
            return;
        m_next = bytes + ReadStops::ReadStopStride;
        if (m_stops.reached)
            m_stops.reached(bytes);
        if (m_stops.stop && m_stops.stop->load(std::memory_order_relaxed))
            throw ProgramEnding{};
    }

private:
    const ReadStops& m_stops;
    qint64 m_next = ReadStops::ReadStopStride;
};

QByteArray readWholeFile(int fd, qint64 expected, qint64 budget, StopPoints& stops) {
    QByteArray bytes(expected, Qt::Uninitialized);
    qint64 filled = 0;
    char spare[65536];
    for (;;) {
        const bool intoBytes = filled < bytes.size();
        char* const target = intoBytes ? bytes.data() + filled : spare;
        // A MiB at a time, to look between them whether to stop.
        const size_t room =
            intoBytes ? size_t(std::min<qint64>(bytes.size() - filled, 1 << 20)) : sizeof spare;
        const qsizetype got = readPiece(fd, target, room);
        if (got == 0)
            break;
        if (!intoBytes) {
            // The file is longer than it said (or never said): it still has to fit.
            checkMemory((filled + got) * PeakBytesPerFileByte, budget);
            bytes.append(spare, got);
        }
        filled += got;
        stops.reached(filled);
    }
    bytes.truncate(filled);
    return bytes;
}

// The lines of a text that arrives a piece at a time, cut while the piece is still in the
// cache. The text may change from one byte a character to two on the way; the positions
// stay the same.
class PieceLines {
public:
    // `pages` asks for the pages of the places ahead, once told of them.
    explicit PieceLines(PagesAhead& pages)
        : m_pages(pages) {}
    void reserve(size_t lines) {
        m_pages.finish();
        m_lines.reserve(lines);
    }
    // Where the room reserved and not yet used starts.
    void* room() { return m_lines.data() + m_lines.size(); }
    // Up to `lines` more lines may come: should they not fit, the spans move, and their
    // pages are asked for no more.
    void expect(size_t lines) {
        if (m_lines.capacity() - m_lines.size() < lines)
            m_pages.finish();
    }
    // The text has grown to `end` units; `atEnd` when it grows no more.
    template <typename Unit> void add(const Unit* text, qsizetype end, bool atEnd) {
        cutLines(text, end, atEnd, m_cuts, [this](qsizetype from, qsizetype length, qsizetype) {
            m_lines.add(from, length);
        });
    }
    // Decodes `bytes` into the text at `out`, its position `at`, as far as
    // decodeUtf8Latin1Lines takes them, and cuts their lines as it goes; `at` is the end of
    // the text cut so far.
    Utf8Piece decodeCutting(QByteArrayView bytes, char* out, qsizetype at) {
        // A CR left waiting for the unit after it is in the text already: the lines of what
        // follows are cut with it.
        if (m_cuts.scan < at)
            return {0, 0, true};
        const Utf8Piece done =
            decodeUtf8Latin1Lines(bytes.data(), bytes.size(), out, at, m_cuts, m_lines);
        m_cuts.scan = at + done.written;
        return done;
    }
    LinePlaces take() {
        m_pages.finish();
        return std::move(m_lines);
    }
    qsizetype count() const { return qsizetype(m_lines.size()); }

private:
    LinePlaces m_lines;
    LineCuts m_cuts;
    PagesAhead& m_pages;
};

// Strict UTF-8 decoded a piece at a time into one byte a character, until the first
// character above U+00FF: from there on, the whole text is UTF-16.
class DecodedText {
public:
    // `pages` asks for the pages of the text ahead, once told of them.
    DecodedText(qsizetype capacity, PagesAhead& pages)
        : m_narrow(capacity, Qt::Uninitialized)
        , m_pages(pages) {}
    // The room not yet written.
    void* room() {
        return m_isWide ? static_cast<void*>(units() + m_written)
                        : static_cast<void*>(m_narrow.data() + m_written);
    }
    qint64 roomBytes() const { return (capacity() - m_written) * bytesPerUnit(); }
    bool isWide() const { return m_isWide; }
    qsizetype written() const { return m_written; }
    qsizetype capacity() const { return m_isWide ? m_wide.size() : m_narrow.size(); }
    qint64 bytesPerUnit() const { return m_isWide ? 2 : 1; }
    void grow(qsizetype capacity) {
        m_pages.finish();
        if (m_isWide)
            m_wide.resize(capacity);
        else
            m_narrow.resize(capacity);
    }
    // Decodes `bytes`, for which there is room; stops as decodeUtf8Piece does. Where it can,
    // it cuts their lines too, and leaves their breaks out; what is left for `lines` to cut
    // keeps its breaks.
    Utf8Piece decode(QByteArrayView bytes, PieceLines& lines) {
        Utf8Piece done{0, 0, true};
        if (!m_isWide) {
            if (haveLatin1LineVectors()) {
                done = lines.decodeCutting(bytes, m_narrow.data() + m_written, m_written);
                m_written += done.written;
            }
            const Utf8Piece rest = decodeUtf8Latin1Piece(
                bytes.data() + done.read, bytes.size() - done.read, m_narrow.data() + m_written);
            m_written += rest.written;
            done = {done.read + rest.read, done.written + rest.written, rest.wellFormed};
            if (done.wellFormed)
                return done;
            widen();
        }
        const Utf8Piece rest = decodeUtf8Piece(bytes.data() + done.read, bytes.size() - done.read,
                                               units() + m_written);
        m_written += rest.written;
        return {done.read + rest.read, done.written + rest.written, rest.wellFormed};
    }
    template <typename Visit> void visitUnits(Visit&& visit) const {
        if (m_isWide)
            visit(reinterpret_cast<const char16_t*>(m_wide.constData()));
        else
            visit(m_narrow.constData());
    }
    void finish(TextFile& file) {
        m_pages.finish();
        if (m_isWide) {
            m_wide.truncate(m_written);
            m_wide.squeeze();
            file.text = std::move(m_wide);
        } else {
            m_narrow.truncate(m_written);
            m_narrow.squeeze();
            file.latin1 = std::move(m_narrow);
            file.isLatin1 = true;
        }
    }

private:
    char16_t* units() { return reinterpret_cast<char16_t*>(m_wide.data()); }
    void widen() {
        m_pages.finish();
        m_wide = QString(m_narrow.size(), Qt::Uninitialized);
        widenLatin1(QLatin1StringView(m_narrow.constData(), m_written), units());
        m_narrow = QByteArray();
        m_isWide = true;
    }

    QByteArray m_narrow;
    QString m_wide;
    bool m_isWide = false;
    qsizetype m_written = 0;
    PagesAhead& m_pages;
};

// The common case in one pass: strict UTF-8, marked or not, taken a piece at a time
// straight into the text and split as it comes, so the file's bytes are never held whole
// and the text is read from memory once. Nothing when the file turns out to be anything
// else.
std::optional<TextFile> readUtf8InPieces(int fd, qint64 expected, qint64 budget,
                                         StopPoints& stops) {
    FilePieces pieces(fd);
    // Never more characters than bytes.
    PagesAhead pages; // of the text and the places
    DecodedText text(qsizetype(expected), pages);
    PieceLines lines(pages);
    // Done with them before they go.
    const auto stopPages = qScopeGuard([&pages] { pages.finish(); });
    qint64 filled = 0;
    for (bool first = true;; first = false) {
        qsizetype got = 0;
        QByteArrayView bytes = pieces.next(got);
        if (got == 0)
            break;
        filled += got;
        stops.reached(filled);
        if (first) {
            // Only the file's start can be a mark; one further on is a character.
            const ByteOrderMark mark = byteOrderMarkOf(bytes);
            if (mark.isUtf16())
                return std::nullopt;
            bytes = bytes.sliced(mark.length);
        }
        if (text.written() + bytes.size() > text.capacity()) {
            // The file is longer than it said (or never said): it still has to fit.
            checkMemory(filled * PeakBytesPerFileByte, budget);
            text.grow(std::max(text.written() + bytes.size(), text.capacity() * 2));
        }
        // Each byte may end a line, and the last may start one.
        lines.expect(size_t(bytes.size()) + 1);
        const Utf8Piece done = text.decode(bytes, lines);
        if (!done.wellFormed)
            return std::nullopt;
        // Spans address the text with 32-bit offsets.
        if (text.written() > qsizetype(std::numeric_limits<quint32>::max()))
            throw failures::outOfMemory();
        pieces.carry(bytes, bytes.size() - done.read);
        text.visitUnits([&](const auto* units) { lines.add(units, text.written(), false); });
        checkMemory(qint64(text.written()) * text.bytesPerUnit() +
                        qint64(lines.count() + 1) * LineOverhead,
                    budget);
        // The first piece tells about how many lines the file holds.
        if (first && got < expected) {
            const auto estimate =
                size_t(double(lines.count() + 1) * double(expected) / double(got));
            lines.reserve(estimate + estimate / 10);
            // The room kept in case the estimate falls short is left untouched, so that
            // unused it costs no memory.
            pages.start(text.room(), text.roomBytes(), lines.room(),
                        qint64(estimate - std::min(estimate, size_t(lines.count()))) *
                            qint64(sizeof(StoredLine)));
        }
    }
    // A sequence cut short by the end of the file.
    if (pieces.carried() > 0)
        return std::nullopt;
    pieces.verify();
    text.visitUnits([&](const auto* units) { lines.add(units, text.written(), true); });
    TextFile file;
    text.finish(file);
    file.lines = lines.take();
    if (file.lines.capacity() > file.lines.size() + file.lines.size() / 4)
        file.lines.shrinkToFit();
    return file;
}

TextFile readDecodedFile(const OpenTextFile& file, qint64 budget, const ReadStops& readStops) {
    const qint64 expected = file.size();
    // /proc files and the like say 0 and still have content, so the size is only a start.
    if (expected > std::numeric_limits<qint64>::max() / PeakBytesPerFileByte)
        throw failures::outOfMemory();
    checkMemory(expected * PeakBytesPerFileByte, budget);
    StopPoints stops(readStops);
    if (std::optional<TextFile> read = readUtf8InPieces(file.fd(), expected, budget, stops))
        return *std::move(read);
    if (::lseek(file.fd(), 0, SEEK_SET) != 0)
        throw failures::fromErrno(errno);
    // Read again from the start: the stop points too.
    StopPoints again(readStops);
    TextFile read;
    read.text = decodeTextFile(readWholeFile(file.fd(), expected, budget, again));
    const qsizetype count = countBreaks(read.text.utf16(), read.text.size()) + 1;
    checkMemory(qint64(read.text.size()) * 2 + qint64(count) * LineOverhead, budget);
    read.lines = LinePlaces(lineSpansOf(read.text));
    return read;
}

} // namespace

OpenTextFile::OpenTextFile(const QString& path) {
    const QByteArray name = encodeFileName(path);
    // Without blocking: opening a named pipe would otherwise wait for a writer forever.
    do {
        m_fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0)
        throw failures::fromErrno(errno);
    struct stat status;
    const int statError = ::fstat(m_fd, &status) != 0 ? errno : 0;
    if (statError != 0 || !S_ISREG(status.st_mode)) {
        ::close(m_fd);
        if (statError != 0)
            throw failures::fromErrno(statError);
        // A folder, a pipe, a socket or a device is no list: a pipe or a terminal can
        // block, and a device such as /dev/zero never ends.
        throw Failure(ErrorNumber::PathFileAccessError, QStringLiteral("Path/File access error"));
    }
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
    m_size = qint64(status.st_size);
}

OpenTextFile::~OpenTextFile() {
    ::close(m_fd);
}

TextFile readTextFile(const OpenTextFile& file, qint64 memoryBudget, const ReadStops& stops) {
    const qint64 budget = memoryBudget < 0 ? availableMemory() : memoryBudget;
    try {
        return readDecodedFile(file, budget, stops);
    } catch (const std::bad_alloc&) {
        throw failures::outOfMemory();
    }
}

TextFile readTextFile(const QString& path, qint64 memoryBudget, const ReadStops& stops) {
    return readTextFile(OpenTextFile(path), memoryBudget, stops);
}

} // namespace varnel
