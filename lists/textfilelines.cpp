#include "textfilelines.h"

#include "core/failure.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <limits>
#include <new>

#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
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

QString decodeTextFile(QByteArrayView bytes) {
    // Stateless: a sequence cut off by the end of the file is an error, not something to
    // wait for. The decoders drop a leading byte-order mark themselves.
    constexpr auto flags = QStringConverter::Flag::Stateless;
    if (bytes.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringConverter::Utf16LE, flags).decode(bytes);
    if (bytes.startsWith("\xFE\xFF"))
        return QStringDecoder(QStringConverter::Utf16BE, flags).decode(bytes);
    QStringDecoder utf8(QStringConverter::Utf8, flags);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError() || bytes.startsWith("\xEF\xBB\xBF"))
        return text;
    text = QString();
    return decodeWindows1252(bytes);
}

namespace {

// Calls onLine(from, to) for each line of `text`, in order.
template <typename Emit> void forEachLine(QStringView text, Emit&& onLine) {
    const char16_t* const data = text.utf16();
    const char16_t* const end = data + text.size();
    const char16_t* p = data;
    qsizetype start = 0;
    while (p < end) {
        // Most characters are neither CR nor LF: step over them with one test each.
        const char16_t* q = p;
        while (q<end&& * q> u'\r')
            ++q;
        if (q == end)
            break;
        const qsizetype i = q - data;
        if (*q == u'\r') {
            onLine(start, i);
            const bool pair = q + 1 < end && q[1] == u'\n';
            start = i + (pair ? 2 : 1);
        } else if (*q == u'\n') {
            onLine(start, i);
            start = i + 1;
        }
        p = data + (*q == u'\r' ? start : i + 1);
    }
    // A LF at the very end ends the last line, as a final CR LF does: a Linux list gets no
    // invented empty line after its last.
    if (start < text.size())
        onLine(start, text.size());
}

// At least the number of lines, and exact for files with LF or CR alone: one line per
// break and one after the last. A plain count the compiler turns into wide compares.
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
constexpr qint64 LineOverhead = qint64(sizeof(LineSpan)) + 12;

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

// At its peak a file is held as its bytes and as UTF-16 at once: three bytes a byte at most.
constexpr qint64 PeakBytesPerFileByte = 3;

QByteArray readWholeFile(const QString& path, qint64 budget) {
    const QByteArray name = QFile::encodeName(path);
    int fd;
    // Without blocking: opening a named pipe would otherwise wait for a writer forever.
    do {
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw failures::fromErrno(errno);
    const Descriptor file(fd);
    struct stat status;
    if (::fstat(fd, &status) != 0)
        throw failures::fromErrno(errno);
    // A folder, a pipe, a socket or a device is no list: a pipe or a terminal can block,
    // and a device such as /dev/zero never ends.
    if (!S_ISREG(status.st_mode))
        throw Failure(ErrorNumber::PathFileAccessError, QStringLiteral("Path/File access error"));
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    // /proc files and the like say 0 and still have content, so the size is only a start.
    const qint64 expected = qint64(status.st_size);
    if (expected > std::numeric_limits<qint64>::max() / PeakBytesPerFileByte)
        throw failures::outOfMemory();
    checkMemory(expected * PeakBytesPerFileByte, budget);

    QByteArray bytes(expected, Qt::Uninitialized);
    qint64 filled = 0;
    char spare[65536];
    for (;;) {
        const bool intoBytes = filled < bytes.size();
        char* const target = intoBytes ? bytes.data() + filled : spare;
        const size_t room = intoBytes ? size_t(bytes.size() - filled) : sizeof spare;
        const ssize_t got = ::read(file.get(), target, room);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw failures::fromErrno(errno);
        }
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

qint64 readNumber(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const qint64 value = file.readAll().trimmed().toLongLong(&ok);
    return ok ? value : -1;
}

} // namespace

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

qint64 availableMemory() {
    qint64 available = std::numeric_limits<qint64>::max();
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        qint64 total = 0;
        bool found = false;
        for (const QByteArray& line : meminfo.readAll().split('\n')) {
            if (line.startsWith("MemAvailable:") || line.startsWith("SwapFree:")) {
                const QByteArray kilobytes = line.mid(line.indexOf(':') + 1).trimmed();
                total += kilobytes.left(kilobytes.indexOf(' ')).toLongLong() * 1024;
                found = true;
            }
        }
        if (found)
            available = total;
    }
    // A container's own limit is often far below what the machine has.
    const qint64 groupLimit = readNumber(QStringLiteral("/sys/fs/cgroup/memory.max"));
    const qint64 groupUsed = readNumber(QStringLiteral("/sys/fs/cgroup/memory.current"));
    if (groupLimit > 0 && groupUsed >= 0)
        available = std::min(available, std::max<qint64>(groupLimit - groupUsed, 0));
    struct rlimit limit;
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        QFile statm(QStringLiteral("/proc/self/statm"));
        qint64 used = 0;
        if (statm.open(QIODevice::ReadOnly))
            used = statm.readAll().split(' ').value(0).toLongLong() * ::sysconf(_SC_PAGESIZE);
        available = std::min(available, std::max<qint64>(qint64(limit.rlim_cur) - used, 0));
    }
    return available;
}

TextFile readTextFile(const QString& path, qint64 memoryBudget) {
    const qint64 budget = memoryBudget < 0 ? availableMemory() : memoryBudget;
    try {
        TextFile file;
        file.text = decodeTextFile(readWholeFile(path, budget));
        const qsizetype count = countLines(file.text);
        checkMemory(qint64(file.text.size()) * 2 + qint64(count) * LineOverhead, budget);
        file.lines = lineSpans(file.text, count);
        return file;
    } catch (const std::bad_alloc&) {
        throw failures::outOfMemory();
    }
}

QStringList readTextFileLines(const QString& path, qint64 memoryBudget) {
    const TextFile file = readTextFile(path, memoryBudget);
    QStringList lines;
    lines.reserve(qsizetype(file.lines.size()));
    for (const LineSpan& line : file.lines)
        lines.append(QStringView(file.text).sliced(line.offset, line.length).toString());
    return lines;
}

} // namespace varnel
