#pragma once

// The readers of text files as lists of lines, for comparing them: the window's, the command
// line's, and the whole-text rules both must agree with.

#include "order/linesortsafter.h"
#include "text/linebreaks.h"
#include "text/linestream.h"
#include "text/textdecoding.h"
#include "text/textfilelines.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QTemporaryFile>

#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace varnel::testing {

inline QStringList splitTextLines(QStringView text) {
    QStringList lines;
    for (const LineSpan& line : lineSpansOf(text))
        lines.append(text.sliced(line.offset, line.length).toString());
    return lines;
}

// The lines of a whole file's bytes: decoded, then split.
inline QStringList textFileLines(QByteArrayView bytes) {
    return splitTextLines(decodeTextFile(bytes));
}

// The window's reader.
inline QStringList readTextFileLines(const QString& path, qint64 memoryBudget = -1) {
    const TextFile file = readTextFile(path, memoryBudget);
    QStringList lines;
    for (size_t row = 0; row < file.lines.size(); ++row) {
        const LineSpan line = file.lines[row];
        if (file.isLatin1)
            lines.append(QLatin1StringView(file.latin1).sliced(line.offset, line.length));
        else
            lines.append(QStringView(file.text).sliced(line.offset, line.length).toString());
    }
    return lines;
}

// What a LineStream gave: its lines, each pair's test, and whether the line before stayed
// whole whatever was read since.
struct Streamed {
    QStringList lines;
    QList<bool> sortsAfter;
    bool operator==(const Streamed&) const = default;
};

// Reads `bytes` with a LineStream from a plain file or a pipe, `blockSize` bytes at a time,
// after `skipped` bytes someone else read first. A line the stream gives again replaces
// what was read from there on.
inline Streamed streamLines(const QByteArray& bytes, bool pipe, qsizetype blockSize,
                            LineStream::Replay replay, qsizetype skipped = 0) {
    int fd = -1;
    QTemporaryFile file;
    std::thread writer;
    if (pipe) {
        int ends[2];
        if (::pipe(ends) != 0)
            qFatal("no pipe");
        writer = std::thread([&bytes, skipped, in = ends[1]] {
            const QByteArray rest = bytes.sliced(skipped);
            qsizetype at = 0;
            while (at < rest.size()) {
                const ssize_t put = ::write(in, rest.constData() + at, size_t(rest.size() - at));
                if (put <= 0)
                    break;
                at += put;
            }
            ::close(in);
        });
        fd = ends[0];
    } else {
        if (!file.open() || file.write(bytes) != bytes.size() || !file.flush())
            qFatal("no file");
        fd = ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY);
        ::lseek(fd, off_t(skipped), SEEK_SET);
    }
    Streamed got;
    {
        LineStream stream(fd, replay, blockSize);
        StreamLine line;
        while (stream.next(line)) {
            const qsizetype number = qsizetype(stream.lineNumber());
            got.lines.resize(number - 1);
            got.sortsAfter.resize(std::max<qsizetype>(number - 2, 0));
            if (number > 1) {
                if (stream.text(stream.previous()) != got.lines.last())
                    got.lines.append(QStringLiteral("(previous line lost)"));
                got.sortsAfter.append(streamLinesSortAfter(stream, stream.previous(), line));
            }
            got.lines.append(stream.text(line));
        }
    }
    ::close(fd);
    if (writer.joinable())
        writer.join();
    return got;
}

// What a stream of `lines` must give.
inline Streamed streamOf(const QStringList& lines) {
    Streamed expected{lines, {}};
    for (qsizetype i = 1; i < lines.size(); ++i)
        expected.sortsAfter.append(lineSortsAfter(lines[i - 1], lines[i]));
    return expected;
}

// How a LineStream reading `bytes` from a file or a pipe, in blocks of a byte and more, and
// either way of replaying, first gives other than `expected`; empty when none does.
inline QString streamMismatch(const QByteArray& bytes, const Streamed& expected) {
    for (const bool pipe : {false, true}) {
        for (const qsizetype block :
             {qsizetype(1), qsizetype(3), qsizetype(16), LineStream::DefaultBlockSize}) {
            for (const auto replay : {LineStream::Replay::Never, LineStream::Replay::Again}) {
                if (streamLines(bytes, pipe, block, replay) != expected)
                    return QStringLiteral("%1, blocks of %2, %3: %4")
                        .arg(pipe ? "pipe" : "file")
                        .arg(block)
                        .arg(replay == LineStream::Replay::Again ? "replayed" : "decided ahead")
                        .arg(QString::fromLatin1(bytes.toHex(' ')));
            }
        }
    }
    return {};
}

} // namespace varnel::testing
