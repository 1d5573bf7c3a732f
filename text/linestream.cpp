#include "linestream.h"

#include "linebuffer.h"
#include "order/linesortsafter.h"
#include "textdecoding.h"
#include "utf8bytes.h"
#include "utf8check.h"
#include "utf8pieces.h"

#include <QStringDecoder>

#include <algorithm>
#include <utility>

namespace varnel {

using streaming::LineBuffer;

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
    bool settle();
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
    int halfUnitAtEnd = -1;
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
    while (got < LongestByteOrderMark && !ended) {
        const qsizetype more = source.read(room + got, blockSize - got);
        ended = more == 0;
        got += more;
    }
    const QByteArrayView head(room, got);
    const ByteOrderMark mark = byteOrderMarkOf(head);
    if (mark.isUtf16()) {
        encoding = StreamEncoding::Utf16;
        decided = true;
        bigEndian = mark.kind == ByteOrderMark::Kind::Utf16BigEndian;
        appendUnits(head.sliced(mark.length));
        bytes = LineBuffer<char>();
        return;
    }
    if (mark.kind == ByteOrderMark::Kind::Utf8) {
        encoding = StreamEncoding::MarkedUtf8;
        decided = true;
        bytes.skip(mark.length);
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
            halfUnitAtEnd = std::exchange(pendingByte, -1);
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

bool LineStream::Private::settle() {
    bool valid = true;
    if (!ended) {
        QByteArray scratch(blockSize, Qt::Uninitialized);
        source.lookAhead([&](QByteArrayView more) { return valid = provisionalCheck.feed(more); },
                         scratch.data(), scratch.size());
    }
    provisional = false;
    if (valid && provisionalCheck.complete())
        return true;
    replayAsWindows1252();
    return false;
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

bool LineStream::settle() {
    const bool stands = !d->provisional || d->settle();
    m_settled = true;
    m_encoding = d->encoding;
    return stands;
}

bool LineStream::firstLineEndsWithCrLf() const {
    return d->firstCrLf;
}

bool LineStream::isBigEndian() const {
    return d->bigEndian;
}

int LineStream::halfUnitAtEnd() const {
    return d->halfUnitAtEnd;
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
        for (qsizetype i = 0; i < line.bytes.size(); ++i)
            text[at + size_t(i)] = windows1252Unit(static_cast<unsigned char>(line.bytes[i]));
        return;
    case StreamEncoding::Utf8: {
        text.resize(at + size_t(line.bytes.size()));
        const Utf8Piece done =
            decodeUtf8Piece(line.bytes.data(), line.bytes.size(), text.data() + at);
        text.resize(at + size_t(done.written));
        return;
    }
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
        appendWindows1252AsUtf8(line.bytes, out);
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
