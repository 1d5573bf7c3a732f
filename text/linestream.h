#pragma once

#include "files/bytesource.h"
#include "order/encodedlinesortsafter.h"
#include "windows1252.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <memory>
#include <vector>

namespace varnel {

// How a stream's text is encoded, by the rules of text/textdecoding.h.
enum class StreamEncoding {
    Utf8,        // valid UTF-8 throughout, or nothing beyond ASCII read yet
    MarkedUtf8,  // a UTF-8 mark, whatever follows: bytes that are no UTF-8 read as U+FFFD
    Windows1252, // neither marked nor valid UTF-8
    Utf16,       // a UTF-16 mark, either byte order
};

// One line without its break: UTF-16 units for a UTF-16 stream, the stream's own bytes for
// the others.
struct StreamLine {
    QByteArrayView bytes;
    QStringView units;
};

// The lines of a stream of any length, by the same encoding and line rules as
// readTextFile, in memory that grows only with the longest line. It reads the descriptor
// from where it stands: what was taken from it before is someone else's.
//
// Telling UTF-8 from Windows-1252 takes the whole input. Until the first byte beyond ASCII
// the lines read the same either way. From there the stream reads ahead to decide before it
// gives another line: a plain file is then read again, a pipe is kept meanwhile in an
// unnamed temporary file (disk, not memory) and read back. With Replay::Again a plain file
// is instead checked as it is read, and read again only should it turn out not UTF-8.
class LineStream {
public:
    static constexpr qsizetype DefaultBlockSize = qsizetype(1) << 18;

    // Again: a plain file's lines come as they are read, before the rest is known to be
    // UTF-8, which spares a second reading. Should it turn out not to be, the stream goes
    // back and gives the lines since `settled()` turned false once more, as Windows-1252.
    enum class Replay { Never, Again };

    // Reads the open descriptor `fd`, which stays the caller's, `blockSize` bytes at a time.
    explicit LineStream(int fd, Replay replay = Replay::Never,
                        qsizetype blockSize = DefaultBlockSize);
    ~LineStream();
    LineStream(const LineStream&) = delete;
    LineStream& operator=(const LineStream&) = delete;

    // The next line, false after the last. Throws systemFailure when reading fails or one
    // line would not fit in the memory left.
    bool next(StreamLine& line);
    // The line before the one `next` gave last (for its first line: an empty one).
    const StreamLine& previous() const { return m_previous; }
    // The number of the line `next` gave last, from 1; lower than before when it went back.
    qint64 lineNumber() const { return m_lineNumber; }
    // False while the lines given may still come again.
    bool settled() const { return m_settled; }
    // Decides the encoding now, reading the rest of the input ahead, and returns whether the
    // lines given stand; when not, they come again from the next `next`, as Windows-1252.
    // A plain file is read twice from here on, nothing is kept.
    bool settle();

    // Lines read before the first byte beyond ASCII count as UTF-8: they read the same in
    // every byte encoding.
    StreamEncoding encoding() const { return m_encoding; }
    bool firstLineEndsWithCrLf() const;

    QString text(const StreamLine& line) const;
    void appendText(const StreamLine& line, std::vector<char16_t>& text) const;
    void appendUtf8(const StreamLine& line, QByteArray& out) const;
    // For a UTF-16 stream: whether its units are big-endian (its mark was FE FF).
    bool isBigEndian() const;
    // For a UTF-16 stream of an odd number of bytes, once read to its end: the last byte,
    // half a unit, which reads as U+FFFD at the end of the last line; -1 for any other.
    int halfUnitAtEnd() const;

private:
    class Private;
    std::unique_ptr<Private> d;
    StreamLine m_previous;
    qint64 m_lineNumber = 0;
    bool m_settled = true;
    StreamEncoding m_encoding = StreamEncoding::Utf8;
};

// The pair test on the lines decoded, for the encodings whose bytes cannot be compared.
bool decodedLineSortsAfter(const LineStream& stream, const StreamLine& upper,
                           const StreamLine& lower);

// The pair test of "Start Extracting Lines" on two lines of `stream`, decoding them only
// where the encoding needs it. Inline: it runs once a line.
inline bool streamLinesSortAfter(const LineStream& stream, const StreamLine& upper,
                                 const StreamLine& lower) {
    switch (stream.encoding()) {
    case StreamEncoding::Utf8:
        return utf8LineSortsAfter(upper.bytes, lower.bytes);
    case StreamEncoding::Windows1252:
        return singleByteLineSortsAfter(upper.bytes, lower.bytes, loweredWindows1252());
    case StreamEncoding::Utf16:
    case StreamEncoding::MarkedUtf8:
        break;
    }
    return decodedLineSortsAfter(stream, upper, lower);
}

} // namespace varnel
