#include "files/unnamedfile.h"
#include "order/encodedlinesortsafter.h"
#include "order/linesortsafter.h"
#include "tests/support/textreaders.h"
#include "text/linestream.h"
#include "text/utf8check.h"
#include "text/windows1252.h"

#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTemporaryFile>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace varnel;

namespace {

using namespace varnel::testing;

Streamed expectedFrom(const QByteArray& bytes) {
    return streamOf(textFileLines(bytes));
}

// Every way of reading `bytes` gives what the whole text gives.
void checkEveryWay(const QByteArray& bytes, const Streamed& expected) {
    const QString mismatch = streamMismatch(bytes, expected);
    if (!mismatch.isEmpty())
        QFAIL(qPrintable(mismatch));
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
    void randomTexts_data();
    void randomTexts();
    void decidedPastTheFirstBlock_data();
    void decidedPastTheFirstBlock();
    void lateInvalidByte_data();
    void lateInvalidByte();
    void fromWhereTheDescriptorStands_data();
    void fromWhereTheDescriptorStands();
    void settledByReadingAhead_data();
    void settledByReadingAhead();
    void pairTestOnBytes_data();
    void pairTestOnBytes();
    void utf8Check_data() { randomTexts_data(); }
    void utf8Check();
    void spoolWithoutTmpdir();
};

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
        QCOMPARE(streamLines(bytes, pipe, 4096, LineStream::Replay::Again), expected);
}

void TestLineStream::lateInvalidByte_data() {
    // ASCII lines past the first blocks, then the first letter beyond ASCII, then lines up
    // to a byte that is no UTF-8: every line from the letter on comes again, once.
    QTest::addColumn<QByteArray>("tail");
    QTest::newRow("in the same line") << QByteArray("\xc3\xa9 \xff\nz\n");
    QTest::newRow("on the next line") << QByteArray("\xc3\xa9\n\xff\nz\n");
    QTest::newRow("one line between") << QByteArray("\xc3\xa9\nmiddle\nz\xff\n");
    QTest::newRow("two lines between") << QByteArray("\xc3\xa9\nb\na\n\xff");
    QTest::newRow("between CR LF") << QByteArray("\xc3\xa9\r\nmiddle\r\n\xff\r\n");
}

void TestLineStream::lateInvalidByte() {
    QFETCH(QByteArray, tail);
    const QByteArray bytes = QByteArray("zebra\napple\n").repeated(4) + tail;
    checkEveryWay(bytes, expectedFrom(bytes));
}

void TestLineStream::fromWhereTheDescriptorStands_data() {
    // A header someone read from the descriptor before: the stream starts after it, and
    // goes back no further when the encoding is decided late.
    QTest::addColumn<QByteArray>("rest");
    QTest::newRow("ASCII") << QByteArray("b\na\n");
    QTest::newRow("UTF-8") << QByteArray("b\xc3\xa9\na\n");
    QTest::newRow("Windows-1252 late") << QByteArray("zz\n").repeated(30) + "b\xc3\xa9\nz\na\xe9\n";
    QTest::newRow("a mark is no longer at the start") << QByteArray("\xef\xbb\xbf"
                                                                    "a\n");
}

void TestLineStream::fromWhereTheDescriptorStands() {
    QFETCH(QByteArray, rest);
    const QByteArray header = "header \xc3\xa9\n";
    const Streamed expected = expectedFrom(rest);
    for (const bool pipe : {false, true})
        for (const auto replay : {LineStream::Replay::Never, LineStream::Replay::Again})
            QCOMPARE(streamLines(header + rest, pipe, 16, replay, header.size()), expected);
}

void TestLineStream::settledByReadingAhead_data() {
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<bool>("stands");
    QTest::newRow("UTF-8 to the end") << QByteArray("z\n\xc3\xa9\n") << true;
    QTest::newRow("a bad byte later") << QByteArray("z\n\xe9\n") << false;
    QTest::newRow("cut short at the end") << QByteArray("z\n\xc3") << false;
}

void TestLineStream::settledByReadingAhead() {
    // A file read as it comes is settled early by reading the rest ahead; the lines given
    // stand, or come again from where they were first in doubt.
    QFETCH(QByteArray, tail);
    QFETCH(bool, stands);
    QByteArray bytes = "b\na\n" + QByteArray("f\xc3\xaate\n\xc3\xa9t\xc3\xa9\n").repeated(20);
    bytes += tail;
    QTemporaryFile file;
    QVERIFY(file.open() && file.write(bytes) == bytes.size() && file.flush());
    const int fd = ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY);
    QStringList lines;
    QList<bool> settledWhenGiven;
    bool settledOnce = false;
    {
        LineStream stream(fd, LineStream::Replay::Again, 16);
        StreamLine line;
        while (stream.next(line)) {
            lines.resize(stream.lineNumber() - 1);
            settledWhenGiven.resize(stream.lineNumber() - 1);
            lines.append(stream.text(line));
            settledWhenGiven.append(stream.settled());
            if (!stream.settled() && !settledOnce) {
                settledOnce = true;
                QCOMPARE(stream.settle(), stands);
                QVERIFY(stream.settled());
            }
        }
    }
    ::close(fd);
    QVERIFY(settledOnce);
    QCOMPARE(lines, textFileLines(bytes));
    // Only the line given before settling was in doubt.
    QCOMPARE(settledWhenGiven.count(false), stands ? 1 : 0);
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
    // once (lines go out right after their bytes are checked), and at the end. Pieces long
    // enough for several vector steps, whose sequences cross from one step to the next.
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
                    std::min<qsizetype>(1 + random.bounded(100), bytes.size() - at));
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
    const UnnamedFile spool;
    saved.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", saved);
    const QString where = QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(spool.fd()));
    QVERIFY2(where.startsWith(u"/tmp/"), qPrintable(where));
    QCOMPARE(spool.folder(), QStringLiteral("/tmp"));
}

QTEST_GUILESS_MAIN(TestLineStream)
#include "tst_linestream.moc"
