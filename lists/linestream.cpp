#include "linestream.h"

#include "extract/encodedlinesortsafter.h"
#include "extract/linesortsafter.h"
#include "textfilelines.h"
#include "utf8check.h"

#include <QStringDecoder>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

namespace {

constexpr quint64 EveryByte = 0x0101010101010101ULL;
constexpr quint64 HighBits = 0x8080808080808080ULL;
constexpr bool LittleEndian = std::endian::native == std::endian::little;

quint64 eightBytes(const char* p) {
    quint64 word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The first byte beyond ASCII from `p` on, or `end`.
const char* skipAscii(const char* p, const char* end) {
#if defined(__SSE2__)
    for (; end - p >= 16; p += 16) {
        const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        if (high)
            return p + std::countr_zero(unsigned(high));
    }
#endif
    while (end - p >= 8 && !(eightBytes(p) & HighBits))
        p += 8;
    while (p < end && static_cast<unsigned char>(*p) < 0x80)
        ++p;
    return p;
}

// The CR and LF among 64 bytes (fewer at the end of what is read), one bit each.
quint64 breaksIn(const char* p, qsizetype count) {
    char window[64];
    if (count < 64) {
        std::memset(window, 0, sizeof window);
        std::memcpy(window, p, size_t(count));
        p = window;
    }
    quint64 mask = 0;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const int hits =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
        mask |= quint64(unsigned(hits)) << (16 * i);
    }
#else
    for (int i = 0; i < 64; ++i)
        mask |= quint64(p[i] == '\n' || p[i] == '\r') << i;
#endif
    return mask;
}

// Finds the breaks of a byte buffer looking at each stretch of it once, not once a line:
// lines are short, and where one ends is hard to foresee.
class ByteBreaks {
public:
    void forget() { m_length = 0; }
    qsizetype find(const char* data, qsizetype from, qsizetype end) {
        for (;;) {
            const qsizetype into = from - m_base;
            if (into >= 0 && into < m_length) {
                if (const quint64 bits = m_mask >> into)
                    return from + std::countr_zero(bits);
                from = m_base + m_length;
            }
            if (from >= end)
                return end;
            m_base = from;
            m_length = std::min<qsizetype>(64, end - from);
            m_mask = breaksIn(data + from, m_length);
        }
    }

private:
    qsizetype m_base = 0;
    qsizetype m_length = 0;
    quint64 m_mask = 0;
};

const char16_t* findUnitBreak(const char16_t* p, const char16_t* end) {
    while (p < end && (*p > u'\r' || (*p != u'\n' && *p != u'\r')))
        ++p;
    return p;
}

struct Span {
    qsizetype from = 0;
    qsizetype length = 0;
};

// The units read and not yet given out, cut into lines at CR LF, CR or LF; the text after
// the last break is a line when it is not empty. The line cut last stays until the next.
template <typename Unit> class LineBuffer {
public:
    enum class Cut { Line, NeedMore, Done };

    // Room for `count` more units after those read.
    Unit* room(qsizetype count);
    void filled(qsizetype count) { m_end += count; }
    // Passes over `count` units at the start that belong to no line (a mark).
    void skip(qsizetype count) { m_start = m_scan = count; }
    // Units read and not yet given out in lines.
    qsizetype waiting() const { return m_end - m_start; }
    // Starts again empty, as if `lastLine` had just been cut.
    void restart(const QByteArray& lastLine);
    Cut cut(bool atEnd, bool& crLf);
    Span last;
    Span beforeLast;
    const Unit* at(const Span& span) const { return m_data.get() + span.from; }

private:
    qsizetype findBreak(qsizetype from) {
        if constexpr (std::is_same_v<Unit, char>)
            return m_breaks.find(m_data.get(), from, m_end);
        else
            return findUnitBreak(m_data.get() + from, m_data.get() + m_end) - m_data.get();
    }

    std::unique_ptr<Unit[]> m_data;
    ByteBreaks m_breaks; // byte buffers only
    qsizetype m_capacity = 0;
    qsizetype m_start = 0; // where the next line starts
    qsizetype m_scan = 0;  // where the search for its break goes on
    qsizetype m_end = 0;
};

template <typename Unit> Unit* LineBuffer<Unit>::room(qsizetype count) {
    if (m_capacity - m_end >= count)
        return m_data.get() + m_end;
    m_breaks.forget();
    const qsizetype keep = last.from;
    const qsizetype kept = m_end - keep;
    std::unique_ptr<Unit[]> grown;
    if (kept + count > m_capacity) {
        // Only a line longer than a block makes it grow.
        const qsizetype capacity = std::max({kept + count, 2 * m_capacity, 2 * count});
        if (m_capacity > 0 && qint64(capacity) * qint64(sizeof(Unit)) > availableMemory())
            throw systemFailure(ENOMEM);
        try {
            grown.reset(new Unit[size_t(capacity)]);
        } catch (const std::bad_alloc&) {
            throw systemFailure(ENOMEM);
        }
        m_capacity = capacity;
    }
    Unit* const target = grown ? grown.get() : m_data.get();
    if (kept > 0)
        std::memmove(target, m_data.get() + keep, size_t(kept) * sizeof(Unit));
    if (grown)
        m_data = std::move(grown);
    m_start -= keep;
    m_scan -= keep;
    m_end -= keep;
    last.from -= keep;
    return m_data.get() + m_end;
}

template <typename Unit> void LineBuffer<Unit>::restart(const QByteArray& lastLine) {
    m_start = m_scan = m_end = 0;
    m_breaks.forget();
    last = beforeLast = {};
    std::copy(lastLine.begin(), lastLine.end(), room(lastLine.size()));
    filled(lastLine.size());
    last = {0, lastLine.size()};
    m_start = m_scan = m_end;
}

template <typename Unit>
typename LineBuffer<Unit>::Cut LineBuffer<Unit>::cut(bool atEnd, bool& crLf) {
    const Unit* const data = m_data.get();
    qsizetype lineEnd = findBreak(m_scan);
    const Unit* const hit = data + lineEnd;
    qsizetype next = lineEnd + 1;
    crLf = false;
    if (lineEnd == m_end) {
        m_scan = m_end;
        if (!atEnd)
            return Cut::NeedMore;
        if (m_start == m_end)
            return Cut::Done;
        next = m_end;
    } else if (*hit == Unit('\r')) {
        // Whether a LF follows decides where the next line starts.
        if (next == m_end && !atEnd) {
            m_scan = lineEnd;
            return Cut::NeedMore;
        }
        crLf = next < m_end && data[next] == Unit('\n');
        next += crLf ? 1 : 0;
    }
    beforeLast = last;
    last = {m_start, lineEnd - m_start};
    m_start = m_scan = next;
    return Cut::Line;
}

// Valid UTF-8 into UTF-16 at `out`; returns the end of what it wrote.
char16_t* decodeValidUtf8(QByteArrayView bytes, char16_t* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p < end) {
        if (LittleEndian && end - p >= 8 &&
            !(eightBytes(reinterpret_cast<const char*>(p)) & HighBits)) {
            for (int i = 0; i < 8; ++i)
                out[i] = p[i];
            p += 8;
            out += 8;
            continue;
        }
        const unsigned char lead = *p;
        if (lead < 0x80) {
            *out++ = lead;
            p += 1;
        } else if (lead < 0xE0) {
            *out++ = char16_t(((lead & 0x1F) << 6) | (p[1] & 0x3F));
            p += 2;
        } else if (lead < 0xF0) {
            *out++ = char16_t(((lead & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
            p += 3;
        } else {
            const char32_t c = ((lead & 0x07) << 18) | ((p[1] & 0x3F) << 12) |
                               ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
            *out++ = QChar::highSurrogate(c);
            *out++ = QChar::lowSurrogate(c);
            p += 4;
        }
    }
    return out;
}

// Windows-1252 above ASCII, as the window decodes it.
const std::array<char16_t, 128>& windows1252High() {
    static const std::array<char16_t, 128> table = [] {
        QByteArray bytes(128, Qt::Uninitialized);
        for (int b = 0; b < 128; ++b)
            bytes[b] = char(0x80 + b);
        const QString text = decodeWindows1252(bytes);
        std::array<char16_t, 128> units{};
        std::copy_n(reinterpret_cast<const char16_t*>(text.utf16()), 128, units.begin());
        return units;
    }();
    return table;
}

} // namespace

const LoweredBytes& loweredWindows1252() {
    static const LoweredBytes table = [] {
        LoweredBytes lowered{};
        for (int b = 0; b < 256; ++b) {
            const char16_t c = b < 0x80 ? char16_t(b) : windows1252High()[b - 0x80];
            lowered[b] = char16_t(QChar::toLower(c));
        }
        return lowered;
    }();
    return table;
}

class LineStream::Private {
public:
    Private(int fd, Replay replay, qsizetype blockSize)
        : source(fd)
        , blockSize(blockSize)
        , mayReplay(replay == Replay::Again && source.isPlainFile()) {}

    void start();
    void readMore();
    void takeBytes(char* room, qsizetype count);
    void decide(QByteArrayView rest);
    void beginProvisionally();
    void replayAsWindows1252();
    void appendUnits(QByteArrayView raw);
    template <typename Unit, typename View> bool next(LineBuffer<Unit>& buffer, View& line);

    ByteSource source;
    const qsizetype blockSize;
    const bool mayReplay;
    StreamEncoding encoding = StreamEncoding::Utf8;
    bool started = false;
    bool decided = false; // by a mark, or from the first byte beyond ASCII
    bool ended = false;
    qint64 bytesRead = 0;
    // UTF-8 so far, each block checked before its lines go out; where to go back to if not.
    bool provisional = false;
    Utf8Check provisionalCheck;
    struct {
        qint64 offset = 0;
        qint64 lines = 0;
        QByteArray lastLine;
    } replay;
    bool firstCrLf = false;
    qint64 lines = 0;
    LineBuffer<char> bytes;
    LineBuffer<char16_t> units; // UTF-16 streams
    bool bigEndian = false;
    int pendingByte = -1; // the first half of a unit split between two reads
    QByteArray block;
    mutable QStringDecoder utf8{QStringConverter::Utf8,
                                QStringConverter::Flag::Stateless |
                                    QStringConverter::Flag::ConvertInitialBom};
};

void LineStream::Private::start() {
    started = true;
    // The first bytes tell a marked file.
    char* room = bytes.room(blockSize);
    qsizetype got = 0;
    while (got < 3 && !ended) {
        const qsizetype more = source.read(room + got, blockSize - got);
        ended = more == 0;
        got += more;
    }
    const QByteArrayView head(room, got);
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) {
        encoding = StreamEncoding::Utf16;
        decided = true;
        bigEndian = head.startsWith("\xFE\xFF");
        appendUnits(head.sliced(2));
        bytes = LineBuffer<char>();
        return;
    }
    if (head.startsWith("\xEF\xBB\xBF")) {
        encoding = StreamEncoding::MarkedUtf8;
        decided = true;
        bytes.skip(3);
    }
    takeBytes(room, got);
}

void LineStream::Private::readMore() {
    if (encoding == StreamEncoding::Utf16) {
        block.resize(blockSize);
        const qsizetype got = source.read(block.data(), blockSize);
        ended = got == 0;
        if (ended && pendingByte >= 0) {
            *units.room(1) = char16_t(QChar::ReplacementCharacter); // half a unit at the end
            units.filled(1);
            pendingByte = -1;
        }
        appendUnits(QByteArrayView(block.data(), got));
        return;
    }
    char* room = bytes.room(blockSize);
    const qsizetype got = source.read(room, blockSize);
    ended = got == 0;
    takeBytes(room, got);
}

void LineStream::Private::takeBytes(char* room, qsizetype count) {
    const char* checkFrom = room;
    if (!decided) {
        const char* high = skipAscii(room, room + count);
        if (high != room + count) {
            if (mayReplay) {
                beginProvisionally();
                checkFrom = high;
            } else {
                decide(QByteArrayView(high, room + count - high));
            }
        }
    }
    bytesRead += count;
    if (provisional) {
        bool valid = provisionalCheck.feed(QByteArrayView(checkFrom, room + count - checkFrom));
        if (valid && ended) {
            valid = provisionalCheck.complete();
            provisional = false;
        }
        if (!valid) {
            replayAsWindows1252();
            return;
        }
    }
    bytes.filled(count);
}

void LineStream::Private::beginProvisionally() {
    decided = true;
    provisional = true;
    // Lines already given are ASCII, the same in either encoding; the ones to come may not
    // be.
    replay.offset = bytesRead - bytes.waiting();
    replay.lines = lines;
    if (lines > 0)
        replay.lastLine = QByteArray(bytes.at(bytes.last), bytes.last.length);
}

void LineStream::Private::replayAsWindows1252() {
    provisional = false;
    encoding = StreamEncoding::Windows1252;
    source.rewind(replay.offset);
    bytesRead = replay.offset;
    ended = false;
    lines = replay.lines;
    bytes.restart(replay.lastLine);
}

void LineStream::Private::decide(QByteArrayView rest) {
    decided = true;
    Utf8Check utf8Check;
    bool valid = utf8Check.feed(rest);
    if (valid && !ended) {
        // Read on only while it can still be UTF-8: the first bad byte decides too.
        QByteArray scratch(blockSize, Qt::Uninitialized);
        source.lookAhead([&](QByteArrayView more) { return valid = utf8Check.feed(more); },
                         scratch.data(), scratch.size());
    }
    encoding = valid && utf8Check.complete() ? StreamEncoding::Utf8 : StreamEncoding::Windows1252;
}

void LineStream::Private::appendUnits(QByteArrayView raw) {
    char16_t* out = units.room(raw.size() / 2 + 1);
    const char16_t* const first = out;
    const auto unit = [this](unsigned char a, unsigned char b) {
        return char16_t(bigEndian ? (a << 8 | b) : (b << 8 | a));
    };
    qsizetype i = 0;
    if (pendingByte >= 0 && !raw.isEmpty()) {
        *out++ = unit(static_cast<unsigned char>(pendingByte), static_cast<unsigned char>(raw[0]));
        pendingByte = -1;
        i = 1;
    }
    for (; i + 1 < raw.size(); i += 2)
        *out++ = unit(static_cast<unsigned char>(raw[i]), static_cast<unsigned char>(raw[i + 1]));
    if (i < raw.size())
        pendingByte = static_cast<unsigned char>(raw[i]);
    units.filled(out - first);
}

template <typename Unit, typename View>
bool LineStream::Private::next(LineBuffer<Unit>& buffer, View& line) {
    using Cut = typename LineBuffer<Unit>::Cut;
    for (;;) {
        bool crLf = false;
        switch (buffer.cut(ended, crLf)) {
        case Cut::Line:
            if (lines++ == 0)
                firstCrLf = crLf;
            line = View(buffer.at(buffer.last), buffer.last.length);
            return true;
        case Cut::Done:
            return false;
        case Cut::NeedMore:
            readMore();
            break;
        }
    }
}

LineStream::LineStream(int fd, Replay replay, qsizetype blockSize)
    : d(std::make_unique<Private>(fd, replay, std::max<qsizetype>(blockSize, 4))) {}

LineStream::~LineStream() = default;

bool LineStream::next(StreamLine& line) {
    if (!d->started)
        d->start();
    line = {};
    bool got;
    if (d->encoding == StreamEncoding::Utf16) {
        got = d->next(d->units, line.units);
        if (d->lines > 1)
            m_previous.units =
                QStringView(d->units.at(d->units.beforeLast), d->units.beforeLast.length);
    } else {
        got = d->next(d->bytes, line.bytes);
        if (d->lines > 1)
            m_previous.bytes =
                QByteArrayView(d->bytes.at(d->bytes.beforeLast), d->bytes.beforeLast.length);
    }
    m_encoding = d->encoding;
    m_lineNumber = d->lines;
    m_settled = !d->provisional;
    return got;
}

bool LineStream::firstLineEndsWithCrLf() const {
    return d->firstCrLf;
}

QString LineStream::text(const StreamLine& line) const {
    std::vector<char16_t> units;
    appendText(line, units);
    return QString(reinterpret_cast<const QChar*>(units.data()), qsizetype(units.size()));
}

void LineStream::appendText(const StreamLine& line, std::vector<char16_t>& text) const {
    const size_t at = text.size();
    switch (d->encoding) {
    case StreamEncoding::Utf16:
        text.insert(text.end(), line.units.utf16(), line.units.utf16() + line.units.size());
        return;
    case StreamEncoding::Windows1252:
        text.resize(at + size_t(line.bytes.size()));
        for (qsizetype i = 0; i < line.bytes.size(); ++i) {
            const auto b = static_cast<unsigned char>(line.bytes[i]);
            text[at + size_t(i)] = b < 0x80 ? char16_t(b) : windows1252High()[b - 0x80];
        }
        return;
    case StreamEncoding::Utf8:
        // Checked already: a plain decoder of its own is several times faster than a
        // general one called once a line.
        text.resize(at + size_t(line.bytes.size()));
        text.resize(size_t(decodeValidUtf8(line.bytes, text.data() + at) - text.data()));
        return;
    case StreamEncoding::MarkedUtf8:
        break;
    }
    // Line by line as the whole file decodes: a later mark is text, and each bad byte one
    // U+FFFD.
    text.resize(at + size_t(d->utf8.requiredSpace(line.bytes.size())));
    const QChar* end =
        d->utf8.appendToBuffer(reinterpret_cast<QChar*>(text.data() + at), line.bytes);
    text.resize(size_t(reinterpret_cast<const char16_t*>(end) - text.data()));
}

void LineStream::appendUtf8(const StreamLine& line, QByteArray& out) const {
    switch (d->encoding) {
    case StreamEncoding::Utf8:
        out.append(line.bytes);
        return;
    case StreamEncoding::Windows1252:
        for (const char byte : line.bytes) {
            const auto b = static_cast<unsigned char>(byte);
            const char16_t c = b < 0x80 ? char16_t(b) : windows1252High()[b - 0x80];
            if (c < 0x80) {
                out.append(char(c));
            } else if (c < 0x800) {
                out.append(char(0xC0 | (c >> 6))).append(char(0x80 | (c & 0x3F)));
            } else {
                out.append(char(0xE0 | (c >> 12)))
                    .append(char(0x80 | ((c >> 6) & 0x3F)))
                    .append(char(0x80 | (c & 0x3F)));
            }
        }
        return;
    case StreamEncoding::Utf16:
    case StreamEncoding::MarkedUtf8:
        out.append(text(line).toUtf8());
        return;
    }
}

bool decodedLineSortsAfter(const LineStream& stream, const StreamLine& upper,
                           const StreamLine& lower) {
    if (stream.encoding() == StreamEncoding::Utf16)
        return lineSortsAfter(upper.units, lower.units);
    return lineSortsAfter(stream.text(upper), stream.text(lower));
}

} // namespace varnel
