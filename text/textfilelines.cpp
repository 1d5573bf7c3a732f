#include "textfilelines.h"

#include "core/failure.h"
#include "core/memorypolicy.h"
#include "order/linetext.h"
#include "files/filesystem.h"
#include "utf8pieces.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include <cerrno>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

QStringList textFileFilters() {
    return {QStringLiteral("Text Files (*.txt)"), QStringLiteral("All Files (*.*)")};
}

QString decodeWindows1252(QByteArrayView bytes) {
    // 0x80 to 0x9F; everything else is the Latin-1 character of the same value.
    static constexpr char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    QString text(bytes.size(), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        *out++ = (b >= 0x80 && b < 0xA0) ? high[b - 0x80] : char16_t(b);
    }
    return text;
}

namespace {

constexpr char Utf8Mark[] = "\xEF\xBB\xBF";

bool startsUtf16(QByteArrayView bytes) {
    return bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
}

// The bytes as strict UTF-8 without a leading mark; nothing when they are not.
std::optional<QString> strictUtf8(QByteArrayView bytes) {
    if (bytes.startsWith(Utf8Mark))
        bytes = bytes.sliced(3);
    QString text(bytes.size(), Qt::Uninitialized);
    const Utf8Piece piece =
        decodeUtf8Piece(bytes.data(), bytes.size(), reinterpret_cast<char16_t*>(text.data()));
    if (!piece.wellFormed || piece.read != bytes.size())
        return std::nullopt;
    text.truncate(piece.written);
    return text;
}

} // namespace

QString decodeTextFile(QByteArrayView bytes) {
    // Stateless: a sequence cut off by the end of the file is an error, not something to
    // wait for. The decoders drop a leading byte-order mark themselves.
    constexpr auto flags = QStringConverter::Flag::Stateless;
    if (bytes.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringConverter::Utf16LE, flags).decode(bytes);
    if (bytes.startsWith("\xFE\xFF"))
        return QStringDecoder(QStringConverter::Utf16BE, flags).decode(bytes);
    if (std::optional<QString> text = strictUtf8(bytes))
        return *std::move(text);
    if (bytes.startsWith(Utf8Mark))
        return QStringDecoder(QStringConverter::Utf8, flags).decode(bytes);
    return decodeWindows1252(bytes);
}

namespace {

// Calls onLine(from, to) for each line of `text`, in order.
template <typename Emit> void forEachLine(QStringView text, Emit&& onLine) {
    qsizetype start = 0;
    for (LineBreak cut = findLineBreak(text, 0); cut.length > 0; cut = findLineBreak(text, start)) {
        onLine(start, cut.at);
        start = cut.at + cut.length;
    }
    if (start < text.size())
        onLine(start, text.size());
}

// At least the number of lines: one per break and one after the last. A plain count the
// compiler turns into wide compares.
qsizetype countLines(QStringView text) {
    qsizetype breaks = 0;
    for (const char16_t c : std::u16string_view(text.utf16(), size_t(text.size())))
        breaks += (c == u'\n') | (c == u'\r');
    return breaks + 1;
}

std::vector<LineSpan> lineSpans(QStringView text, qsizetype count) {
    // Spans address the text with 32-bit offsets.
    if (text.size() > qsizetype(std::numeric_limits<quint32>::max()))
        throw failures::outOfMemory();
    std::vector<LineSpan> lines;
    lines.reserve(size_t(count));
    forEachLine(text, [&](qsizetype from, qsizetype to) {
        lines.push_back({quint32(from), quint32(to - from)});
    });
    // CR LF files counted two breaks a line.
    if (lines.capacity() > lines.size() + lines.size() / 4)
        lines.shrink_to_fit();
    return lines;
}

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

QByteArray readWholeFile(int fd, qint64 expected, qint64 budget) {
    QByteArray bytes(expected, Qt::Uninitialized);
    qint64 filled = 0;
    char spare[65536];
    for (;;) {
        const bool intoBytes = filled < bytes.size();
        char* const target = intoBytes ? bytes.data() + filled : spare;
        const size_t room = intoBytes ? size_t(bytes.size() - filled) : sizeof spare;
        const qsizetype got = readPiece(fd, target, room);
        if (got == 0)
            break;
        if (!intoBytes) {
            // The file is longer than it said (or never said): it still has to fit.
            checkMemory((filled + got) * PeakBytesPerFileByte, budget);
            bytes.append(spare, got);
        }
        filled += got;
    }
    bytes.truncate(filled);
    return bytes;
}

inline bool mayBreak(const char16_t* sixteen) {
    bool maybe = false;
    for (int k = 0; k < 16; ++k)
        maybe |= sixteen[k] <= u'\r';
    return maybe;
}

// The lines of a text that arrives a piece at a time, found while the piece is still in the
// cache. A CR that ends a piece may be half of a CR LF: the LF that may follow is known by
// where that CR was. The text may change from one byte a character to two on the way; the
// positions stay the same.
class PieceLines {
public:
    void reserve(size_t lines) {
        m_lines.reserve(lines);
        prefault(m_lines.data(), qint64(lines * sizeof(LineSpan)));
    }
    // The text has grown to `end` units.
    template <typename Unit> void add(const Unit* text, qsizetype end) {
        qsizetype i = m_seen;
#if defined(__SSE2__)
        if constexpr (sizeof(Unit) == 1) {
            // Sixteen bytes at a time: a mask of the breaks among them.
            for (; end - i >= 16; i += 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
                auto mask = unsigned(
                    _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                                                   _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')))));
                for (; mask != 0; mask &= mask - 1) {
                    const qsizetype at = i + std::countr_zero(mask);
                    addBreak(char16_t(text[at]), at);
                }
            }
        } else {
            // Eight units at a time: a mask of those that may be breaks, then only those.
            for (; end - i >= 8; i += 8) {
                const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
                const __m128i low = _mm_subs_epu16(units, _mm_set1_epi16(u'\r'));
                auto mask = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(low, _mm_setzero_si128())));
                for (; mask != 0; mask &= mask - 1, mask &= mask - 1) {
                    const qsizetype at = i + std::countr_zero(mask) / 2;
                    if (text[at] == u'\n' || text[at] == u'\r')
                        addBreak(text[at], at);
                }
            }
        }
#endif
        for (; i < end; ++i)
            if (text[i] == Unit('\n') || text[i] == Unit('\r'))
                addBreak(char16_t(text[i]), i);
        m_seen = end;
    }
    void addBreak(char16_t c, qsizetype at) {
        ++m_breaks;
        if (c == u'\n' && m_lastCr == at - 1) {
            m_start = at + 1;
            return;
        }
        m_lines.push_back({quint32(m_start), quint32(at - m_start)});
        m_start = at + 1;
        if (c == u'\r')
            m_lastCr = at;
    }
    std::vector<LineSpan> finish() {
        if (m_start < m_seen)
            m_lines.push_back({quint32(m_start), quint32(m_seen - m_start)});
        return std::move(m_lines);
    }
    qsizetype count() const {
        return qsizetype(m_lines.size());
    }
    // As the whole text counts lines: one per break and one after the last.
    qsizetype breaks() const {
        return m_breaks;
    }

private:
    std::vector<LineSpan> m_lines;
    qsizetype m_seen = 0;
    qsizetype m_start = 0;
    qsizetype m_lastCr = -2;
    qsizetype m_breaks = 0;
};

// Strict UTF-8 decoded a piece at a time into one byte a character, until the first
// character above U+00FF: from there on, the whole text is UTF-16.
class DecodedText {
public:
    explicit DecodedText(qsizetype capacity)
        : m_narrow(capacity, Qt::Uninitialized) {
        prefault(m_narrow.data(), qint64(m_narrow.size()));
    }
    bool isWide() const { return m_isWide; }
    qsizetype written() const { return m_written; }
    qsizetype capacity() const { return m_isWide ? m_wide.size() : m_narrow.size(); }
    qint64 bytesPerUnit() const { return m_isWide ? 2 : 1; }
    void grow(qsizetype capacity) {
        if (m_isWide)
            m_wide.resize(capacity);
        else
            m_narrow.resize(capacity);
    }
    // Decodes `bytes`, for which there is room; stops as decodeUtf8Piece does.
    Utf8Piece decode(QByteArrayView bytes) {
        Utf8Piece done{0, 0, true};
        if (!m_isWide) {
            done = decodeUtf8Latin1Piece(bytes.data(), bytes.size(), m_narrow.data() + m_written);
            m_written += done.written;
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
        m_wide = QString(m_narrow.size(), Qt::Uninitialized);
        widenLatin1(QLatin1StringView(m_narrow.constData(), m_written), units());
        m_narrow = QByteArray();
        m_isWide = true;
    }

    QByteArray m_narrow;
    QString m_wide;
    bool m_isWide = false;
    qsizetype m_written = 0;
};

// The common case in one pass: strict UTF-8, marked or not, read a piece at a time straight
// into the text and split as it comes, so the file's bytes are never held whole and the
// text is read from memory once. Nothing when the file turns out to be anything else.
std::optional<TextFile> readUtf8File(int fd, qint64 expected, qint64 budget) {
    constexpr qsizetype PieceSize = 256 * 1024;
    // A sequence cut by the end of a piece starts the next one: three bytes at most.
    QByteArray piece(PieceSize + 3, Qt::Uninitialized);
    // Never more characters than bytes.
    DecodedText text{qsizetype(expected)};
    PieceLines lines;
    qsizetype carried = 0;
    qint64 filled = 0;
    for (bool first = true;; first = false) {
        const qsizetype got = readPiece(fd, piece.data() + carried, PieceSize);
        if (got == 0)
            break;
        filled += got;
        QByteArrayView bytes(piece.constData(), carried + got);
        if (first && startsUtf16(bytes))
            return std::nullopt;
        if (first && bytes.startsWith(Utf8Mark))
            bytes = bytes.sliced(3);
        if (text.written() + bytes.size() > text.capacity()) {
            // The file is longer than it said (or never said): it still has to fit.
            checkMemory(filled * PeakBytesPerFileByte, budget);
            text.grow(std::max(text.written() + bytes.size(), text.capacity() * 2));
        }
        const Utf8Piece done = text.decode(bytes);
        if (!done.wellFormed)
            return std::nullopt;
        // Spans address the text with 32-bit offsets.
        if (text.written() > qsizetype(std::numeric_limits<quint32>::max()))
            throw failures::outOfMemory();
        carried = bytes.size() - done.read;
        std::memmove(piece.data(), bytes.data() + done.read, size_t(carried));
        text.visitUnits([&](const auto* units) { lines.add(units, text.written()); });
        checkMemory(qint64(text.written()) * text.bytesPerUnit() +
                        qint64(lines.breaks() + 1) * LineOverhead,
                    budget);
        // The first piece tells about how many lines the file holds.
        if (first && got < expected)
            lines.reserve(size_t(double(lines.count() + 1) * double(expected) / double(got) * 1.1));
    }
    // A sequence cut short by the end of the file.
    if (carried > 0)
        return std::nullopt;
    TextFile file;
    text.finish(file);
    file.lines = lines.finish();
    if (file.lines.capacity() > file.lines.size() + file.lines.size() / 4)
        file.lines.shrink_to_fit();
    return file;
}

TextFile readDecodedFile(const QString& path, qint64 budget) {
    qint64 expected = 0;
    const Descriptor file(openPlainFile(path, expected));
    // /proc files and the like say 0 and still have content, so the size is only a start.
    if (expected > std::numeric_limits<qint64>::max() / PeakBytesPerFileByte)
        throw failures::outOfMemory();
    checkMemory(expected * PeakBytesPerFileByte, budget);
    if (std::optional<TextFile> read = readUtf8File(file.get(), expected, budget))
        return *std::move(read);
    if (::lseek(file.get(), 0, SEEK_SET) != 0)
        throw failures::fromErrno(errno);
    TextFile read;
    read.text = decodeTextFile(readWholeFile(file.get(), expected, budget));
    const qsizetype count = countLines(read.text);
    checkMemory(qint64(read.text.size()) * 2 + qint64(count) * LineOverhead, budget);
    read.lines = lineSpans(read.text, count);
    return read;
}

} // namespace

LineBreak findLineBreak(QStringView text, qsizetype from) {
    const char16_t* const data = text.utf16();
    const char16_t* const end = data + text.size();
    const char16_t* p = data + from;
    while (end - p >= 16 && !mayBreak(p))
        p += 16;
    for (; p != end; ++p) {
        // Most characters are neither CR nor LF: one compare steps over them.
        if (*p > u'\r')
            continue;
        const qsizetype at = p - data;
        if (*p == u'\n')
            return {at, 1};
        if (*p == u'\r')
            return {at, (p + 1 != end && p[1] == u'\n') ? 2 : 1};
    }
    return {text.size(), 0};
}

std::vector<LineSpan> splitTextLineSpans(QStringView text) {
    return lineSpans(text, countLines(text));
}

QStringList splitTextLines(QStringView text) {
    QStringList lines;
    for (const LineSpan& line : splitTextLineSpans(text))
        lines.append(text.sliced(line.offset, line.length).toString());
    return lines;
}

QStringList textFileLines(QByteArrayView bytes) {
    return splitTextLines(decodeTextFile(bytes));
}

TextFile readTextFile(const QString& path, qint64 memoryBudget) {
    const qint64 budget = memoryBudget < 0 ? availableMemory() : memoryBudget;
    try {
        return readDecodedFile(path, budget);
    } catch (const std::bad_alloc&) {
        throw failures::outOfMemory();
    }
}

QStringList readTextFileLines(const QString& path, qint64 memoryBudget) {
    const TextFile file = readTextFile(path, memoryBudget);
    QStringList lines;
    lines.reserve(qsizetype(file.lines.size()));
    for (const LineSpan& line : file.lines) {
        if (file.isLatin1)
            lines.append(QLatin1StringView(file.latin1).sliced(line.offset, line.length));
        else
            lines.append(QStringView(file.text).sliced(line.offset, line.length).toString());
    }
    return lines;
}

} // namespace varnel
