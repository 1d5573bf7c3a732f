#include "text/linestream.h"
#include "text/wholefilelines.h"

#include <QRandomGenerator>
#include <QTemporaryFile>
#include <QTest>

#include <unistd.h>

using namespace varnel;

namespace {

// Pieces a random text is made of: breaks of every kind, ASCII, two-byte letters (Latin-1),
// wider characters, and one byte that is no UTF-8.
const QByteArray Pieces[] = {"a",    "B",        " ",        "\n",           "\r",
                             "\r\n", "\xC3\xA9", "\xC3\x9F", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                             "\xC3"};

QByteArray randomText(QRandomGenerator& random, bool valid) {
    QByteArray text;
    const int pieces = int(random.bounded(120));
    for (int i = 0; i < pieces; ++i)
        text += Pieces[random.bounded(int(std::size(Pieces)) - (valid ? 1 : 0))];
    return text;
}

struct StreamLines {
    QList<QByteArray> bytes;
    QStringList texts;
    bool utf8 = false;
    bool crLf = false;
};

// The lines as the stream reads them from a file, which is what the cut must agree with.
StreamLines streamed(const QByteArray& text) {
    QTemporaryFile file;
    if (!file.open() || file.write(text) != text.size() || !file.flush() || !file.seek(0))
        qFatal("no temporary file");
    LineStream stream(file.handle());
    StreamLines lines;
    StreamLine line;
    while (stream.next(line)) {
        lines.bytes += line.bytes.toByteArray();
        lines.texts += stream.text(line);
    }
    lines.utf8 = stream.encoding() == StreamEncoding::Utf8;
    lines.crLf = stream.firstLineEndsWithCrLf();
    return lines;
}

} // namespace

class TestWholeFileLines : public QObject {
    Q_OBJECT
private slots:
    void cutsAsTheStreamReads_data();
    void cutsAsTheStreamReads();
    void readsFromWhereTheFileStands_data();
    void readsFromWhereTheFileStands();
};

void TestWholeFileLines::cutsAsTheStreamReads_data() {
    QTest::addColumn<size_t>("twoThreadsFrom");
    QTest::newRow("one thread") << std::numeric_limits<size_t>::max();
    // Every text with a LF in its second half is cut in two.
    QTest::newRow("two threads") << size_t(0);
}

// Random texts behind lines already kept, so that every offset counts: the same lines, bytes
// and text, the same first break, and nothing added for a text that is no UTF-8.
void TestWholeFileLines::cutsAsTheStreamReads() {
    QFETCH(size_t, twoThreadsFrom);
    QRandomGenerator random(7);
    for (int round = 0; round < 400; ++round) {
        const QByteArray text = randomText(random, round % 4 != 0);
        const QByteArray before = "kept\xC3\xA9";
        Bytes bytes(before.begin(), before.end());
        bytes.insert(bytes.end(), text.begin(), text.end());
        InputLines lines(1, InputLine{});
        Bytes narrow(before.begin(), before.end());
        std::vector<char16_t> wide{u'\u20AC'};
        const Utf8Cut cut = cutUtf8Lines(bytes, size_t(before.size()), bytes.size(), lines, narrow,
                                         wide, twoThreadsFrom);

        const StreamLines expected = streamed(text);
        QCOMPARE(cut.utf8, expected.utf8);
        if (!cut.utf8) {
            QCOMPARE(lines.size(), size_t(1));
            QCOMPARE(narrow.size(), size_t(before.size()));
            QCOMPARE(wide.size(), size_t(1));
            continue;
        }
        QCOMPARE(lines.size(), size_t(expected.bytes.size()) + 1);
        bool allAscii = true;
        for (qsizetype i = 0; i < expected.bytes.size(); ++i) {
            const InputLine& line = lines[size_t(i) + 1];
            QCOMPARE(QByteArray(bytes.data() + line.at, line.length), expected.bytes[i]);
            QVERIFY(line.validUtf8);
            QString got;
            switch (LineForm(line.form)) {
            case LineForm::Latin1Bytes:
                got = QString::fromLatin1(bytes.data() + line.at, line.length);
                break;
            case LineForm::Narrow:
                got = QString::fromLatin1(narrow.data() + line.textAt, line.textLength);
                break;
            case LineForm::Wide:
                got = QString::fromUtf16(wide.data() + line.textAt, line.textLength);
                break;
            case LineForm::Utf16:
                QFAIL("UTF-16 from UTF-8");
            }
            QCOMPARE(got, expected.texts[i]);
            allAscii = allAscii && LineForm(line.form) == LineForm::Latin1Bytes;
        }
        QCOMPARE(cut.allAscii, allAscii);
        if (!expected.bytes.isEmpty())
            QCOMPARE(cut.firstLineEndsWithCrLf, expected.crLf);
    }
}

void TestWholeFileLines::readsFromWhereTheFileStands_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("cut");
    QTest::newRow("UTF-8") << QByteArray("#a\r\n\xC3\xA9\n") << true;
    QTest::newRow("a mark") << QByteArray("#\xEF\xBB\xBF"
                                          "a\n")
                            << false;
    QTest::newRow("a byte that is no UTF-8") << QByteArray("#a\n\xE9\n") << false;
}

// What it leaves to the stream it leaves as it found it: the bytes read given back, the file
// where it stood.
void TestWholeFileLines::readsFromWhereTheFileStands() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, cut);
    QTemporaryFile file;
    QVERIFY(file.open() && file.write(bytes) == bytes.size() && file.flush());
    QCOMPARE(::lseek(file.handle(), 1, SEEK_SET), off_t(1));
    Bytes read{'k'};
    InputLines lines;
    Bytes narrow;
    std::vector<char16_t> wide;
    QCOMPARE(readWholeUtf8File(file.handle(), read, lines, narrow, wide).utf8, cut);
    QCOMPARE(::lseek(file.handle(), 0, SEEK_CUR), off_t(cut ? bytes.size() : 1));
    QCOMPARE(QByteArray(read.data(), qsizetype(read.size())), cut ? "k" + bytes.mid(1) : "k");
    QCOMPARE(lines.size(), size_t(cut ? 2 : 0));
}

QTEST_GUILESS_MAIN(TestWholeFileLines)
#include "tst_wholefilelines.moc"
