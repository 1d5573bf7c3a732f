#include "order/encodedlinesortsafter.h"
#include "order/linesortsafter.h"
#include "files/bytesource.h"
#include "text/linestream.h"
#include "text/textfilelines.h"
#include "text/utf8check.h"
#include "tests/support/textfilecases.h"

#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTemporaryFile>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace varnel;

namespace {

// What a stream gave: its lines, and for each neighbouring pair the pair test.
struct Streamed {
    QStringList lines;
    QList<bool> sortsAfter;
    bool operator==(const Streamed&) const = default;
};

Streamed expectedFrom(const QByteArray& bytes) {
    Streamed expected{textFileLines(bytes), {}};
    for (qsizetype i = 1; i < expected.lines.size(); ++i)
        expected.sortsAfter.append(lineSortsAfter(expected.lines[i - 1], expected.lines[i]));
    return expected;
}

// Reads `bytes` from a plain file or a pipe, `blockSize` bytes at a time. A line the
// stream gives again replaces what was read from there on.
Streamed streamed(const QByteArray& bytes, bool pipe, qsizetype blockSize,
                  LineStream::Replay replay) {
    int fd = -1;
    QTemporaryFile file;
    if (pipe) {
        int ends[2];
        if (::pipe(ends) != 0 ||
            ::write(ends[1], bytes.constData(), size_t(bytes.size())) != ssize_t(bytes.size()))
            qFatal("no pipe");
        ::close(ends[1]);
        fd = ends[0];
    } else {
        if (!file.open() || file.write(bytes) != bytes.size() || !file.flush())
            qFatal("no file");
        fd = ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY);
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
                // The line before must still be whole, whatever was read since.
                if (stream.text(stream.previous()) != got.lines.last())
                    got.lines.append(QStringLiteral("(previous line lost)"));
                got.sortsAfter.append(lineSortsAfter(stream, stream.previous(), line));
            }
            got.lines.append(stream.text(line));
        }
    }
    ::close(fd);
    return got;
}

// Every way of reading `bytes` gives what the window's reader gives.
void checkEveryWay(const QByteArray& bytes, const Streamed& expected) {
    for (const bool pipe : {false, true}) {
        for (const qsizetype block :
             {qsizetype(1), qsizetype(3), qsizetype(16), LineStream::DefaultBlockSize}) {
            for (const auto replay : {LineStream::Replay::Never, LineStream::Replay::Again}) {
                if (streamed(bytes, pipe, block, replay) != expected)
                    QFAIL(qPrintable(QStringLiteral("%1, blocks of %2: %3")
                                         .arg(pipe ? "pipe" : "file")
                                         .arg(block)
                                         .arg(QString::fromLatin1(bytes.toHex(' ')))));
            }
        }
    }
}

// Pieces random texts are made of: the letters that lower to another length or plane, the
// marks, breaks of every kind.
const QStringList textPieces = {
    "a",          "b",      "z",      "A",      "Z",      "_",          " ",
    "0",          "9",      "\t",     "\u00e9", "\u00c9", "\u00df",     "\u212a",
    "\u0130",     "\u03a9", "\u20ac", "\ufeff", "\uffff", "\U00010400", "\U00010428",
    "\U0010ffff", "\n",     "\r",     "\r\n",   "\n\n"};
// Bytes that break UTF-8: lone, cut short, overlong, surrogate, beyond U+10FFFF.
const QList<QByteArray> badPieces = {"\xff",         "\x80",         "\xc0\xaf",         "\xe2\x82",
                                     "\xed\xa0\x80", "\xe0\x80\x80", "\xf4\x90\x80\x80", "\xc3"};

QByteArray randomText(const QString& kind, QRandomGenerator& random) {
    const int length = random.bounded(24);
    QByteArray bytes;
    if (kind == u"UTF-16 LE" || kind == u"UTF-16 BE") {
        const bool little = kind == u"UTF-16 LE";
        bytes = little ? "\xff\xfe" : "\xfe\xff";
        for (int i = 0; i < length; ++i) {
            QString unit = textPieces[random.bounded(textPieces.size())];
            if (random.bounded(8) == 0)
                unit = QChar(char16_t(0xd800 + random.bounded(0x800))); // half a pair
            for (const QChar c : unit) {
                const char high = char(c.unicode() >> 8);
                const char low = char(c.unicode() & 0xff);
                bytes.append(little ? low : high).append(little ? high : low);
            }
        }
        if (random.bounded(4) == 0)
            bytes.append('a'); // half a unit at the end
        return bytes;
    }
    if (kind == u"marked UTF-8")
        bytes = "\xef\xbb\xbf";
    for (int i = 0; i < length; ++i) {
        if (kind == u"Windows-1252") {
            bytes.append(char(random.bounded(256)));
        } else if (kind != u"UTF-8" && random.bounded(10) == 0) {
            bytes.append(badPieces[random.bounded(badPieces.size())]);
        } else {
            bytes.append(textPieces[random.bounded(textPieces.size())].toUtf8());
        }
    }
    return bytes;
}

} // namespace

class TestLineStream : public QObject {
    Q_OBJECT
private slots:
    void lineRule_data() { testing::lineRuleRows(); }
    void lineRule();
    void encodings_data() { testing::encodingRows(); }
    void encodings();
    void randomTexts_data();
    void randomTexts();
    void decidedPastTheFirstBlock_data();
    void decidedPastTheFirstBlock();
    void pairTestOnBytes_data();
    void pairTestOnBytes();
    void utf8Check_data() { randomTexts_data(); }
    void utf8Check();
    void spoolWithoutTmpdir();
};

void TestLineStream::lineRule() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QByteArray wide("\xFF\xFE"); // the same rule over UTF-16
    for (char c : bytes)
        wide.append(c).append('\0');
    for (const QByteArray& form : {bytes, wide}) {
        QCOMPARE(expectedFrom(form).lines, lines);
        checkEveryWay(form, expectedFrom(form));
    }
}

void TestLineStream::encodings() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QCOMPARE(expectedFrom(bytes).lines, lines);
    checkEveryWay(bytes, expectedFrom(bytes));
}

void TestLineStream::randomTexts_data() {
    QTest::addColumn<QString>("kind");
    for (const char* kind : {"UTF-8", "UTF-8 broken somewhere", "marked UTF-8", "Windows-1252",
                             "UTF-16 LE", "UTF-16 BE"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void TestLineStream::randomTexts() {
    QFETCH(QString, kind);
    QRandomGenerator random(7);
    for (int i = 0; i < 150; ++i) {
        const QByteArray bytes = randomText(kind, random);
        checkEveryWay(bytes, expectedFrom(bytes));
        if (QTest::currentTestFailed())
            return;
    }
}

void TestLineStream::decidedPastTheFirstBlock_data() {
    QTest::addColumn<QByteArray>("tail"); // after ASCII lines, then UTF-8 lines out of order
    QTest::newRow("valid to the end") << QByteArray("\xc3\xa9\nz\n");
    QTest::newRow("a bad byte far on") << QByteArray("\xc3\xa9\nz\xff\n");
    QTest::newRow("cut short at the end") << QByteArray("\xc3\xa9\nz\xe2\x82");
}

void TestLineStream::decidedPastTheFirstBlock() {
    // Lines the stream gave as UTF-8 before it met the tail come again when the tail
    // makes the file Windows-1252.
    QFETCH(QByteArray, tail);
    QByteArray bytes;
    for (int i = 0; bytes.size() < 5000; ++i)
        bytes.append(i % 3 ? "plain\n" : "ASCII\n");
    for (int i = 0; bytes.size() < 4 * 4096; ++i)
        bytes.append(i % 2 ? "\xc3\xa9t\xc3\xa9\n" : "f\xc3\xa9te\n");
    bytes.append(tail);
    const Streamed expected = expectedFrom(bytes);
    for (const bool pipe : {false, true})
        QCOMPARE(streamed(bytes, pipe, 4096, LineStream::Replay::Again), expected);
}

void TestLineStream::pairTestOnBytes_data() {
    QTest::addColumn<bool>("utf8"); // else Windows-1252
    QTest::newRow("UTF-8") << true;
    QTest::newRow("Windows-1252") << false;
}

void TestLineStream::pairTestOnBytes() {
    // Neighbours share beginnings of any length, so every step of the byte test is taken.
    QFETCH(bool, utf8);
    QRandomGenerator random(11);
    const auto piece = [&] {
        if (!utf8)
            return QByteArray(1, char(random.bounded(256)));
        QString p = textPieces[random.bounded(textPieces.size())];
        return (p.contains(u'\n') || p.contains(u'\r') ? QStringLiteral("\u00e9") : p).toUtf8();
    };
    for (int i = 0; i < 20000; ++i) {
        QByteArray upper;
        for (int n = random.bounded(30); n > 0; --n)
            upper.append(piece());
        QByteArray lower = upper;
        if (!lower.isEmpty())
            lower.truncate(random.bounded(int(lower.size())));
        if (utf8)
            lower = QString::fromUtf8(lower).toUtf8(); // no character cut in half
        for (int n = random.bounded(4); n > 0; --n)
            lower.append(piece());
        if (random.bounded(2))
            std::swap(upper, lower);
        const bool expected =
            utf8 ? lineSortsAfter(QString::fromUtf8(upper), QString::fromUtf8(lower))
                 : lineSortsAfter(decodeWindows1252(upper), decodeWindows1252(lower));
        const bool got = utf8 ? utf8LineSortsAfter(upper, lower)
                              : singleByteLineSortsAfter(upper, lower, loweredWindows1252());
        if (got != expected)
            QFAIL(qPrintable(upper.toHex(' ') + " / " + lower.toHex(' ')));
    }
}

void TestLineStream::utf8Check() {
    // Both ways agree with the decoder, whatever pieces the bytes come in: on each piece at
    // once (lines go out right after their bytes are checked), and at the end.
    QFETCH(QString, kind);
    QRandomGenerator random(13);
    for (int i = 0; i < 2000; ++i) {
        const QByteArray bytes = randomText(kind, random) + randomText(kind, random);
        QStringDecoder whole(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        const QString decoded = whole.decode(bytes);
        const bool valid = !whole.hasError();
        for (const auto way : {Utf8Check::Way::Plain, Utf8Check::Way::Fastest}) {
            Utf8Check check(way);
            QStringDecoder sofar(QStringConverter::Utf8); // waits for a sequence left open
            for (qsizetype at = 0; at < bytes.size();) {
                const QByteArrayView piece = QByteArrayView(bytes).sliced(at).first(
                    std::min<qsizetype>(1 + random.bounded(40), bytes.size() - at));
                at += piece.size();
                const QString decodedSoFar = sofar.decode(piece);
                // No bad byte let through, none seen where there is none.
                const bool passed = check.feed(piece);
                if ((passed && sofar.hasError()) || (!passed && valid))
                    QFAIL(qPrintable(bytes.left(at).toHex(' ')));
            }
            if (check.complete() != valid)
                QFAIL(qPrintable(bytes.toHex(' ')));
        }
    }
}

// Regression: with TMPDIR naming no folder, a pipe's spool went to the root folder (or, for
// anyone but root, failed as if standard input could not be read).
void TestLineStream::spoolWithoutTmpdir() {
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", "/nonexistent-folder");
    const int fd = openUnnamedFile();
    saved.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", saved);
    QVERIFY(fd >= 0);
    const QString where = QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd));
    ::close(fd);
    QVERIFY2(where.startsWith(u"/tmp/"), qPrintable(where));
}

QTEST_GUILESS_MAIN(TestLineStream)
#include "tst_linestream.moc"
