#include "tests/support/textreaders.h"
#include "text/latin1lines.h"

#include <QRandomGenerator>
#include <QTest>

using namespace varnel;
using namespace varnel::testing;

namespace {

// What the cutter made of `bytes` (no mark), given `cuts` pieces at a time: the lines when
// it took them all, or nothing, and then the bytes must be back as they were.
struct Cut {
    bool taken = false;
    QStringList lines;
    QByteArray text;
};

Cut cutLatin1(const QByteArray& bytes, const QList<int>& cuts, Utf8Way way) {
    QByteArray data = bytes;
    std::vector<LineSpan> spans;
    Latin1LineCutter cutter(data.data(), 0, 0, spans, way);
    Cut cut;
    for (int end : cuts) {
        if (!cutter.take(std::min<qsizetype>(end, data.size()), false)) {
            cutter.restore();
            cut.text = data;
            return cut;
        }
    }
    if (!cutter.take(data.size(), true)) {
        cutter.restore();
        cut.text = data;
        return cut;
    }
    cut.taken = true;
    cut.text = data.first(cutter.written());
    for (const LineSpan& span : spans)
        cut.lines.append(QLatin1StringView(cut.text).sliced(span.offset, span.length));
    return cut;
}

// Every byte a character below U+0100 takes as UTF-8, and nothing else.
bool isLatin1Utf8(QByteArrayView bytes) {
    const QString text = decodeTextFile(bytes);
    if (bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFF\xFE") ||
        bytes.startsWith("\xFE\xFF") || text.toUtf8() != bytes)
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x100; });
}

void checkAgainstTheRules(const QByteArray& bytes, const QList<int>& cuts) {
    const bool latin1 = isLatin1Utf8(bytes);
    for (Utf8Way way : {Utf8Way::Fastest, Utf8Way::Plain}) {
        const Cut cut = cutLatin1(bytes, cuts, way);
        QCOMPARE(cut.taken, latin1);
        if (latin1) {
            QCOMPARE(cut.lines, textFileLines(bytes));
            QCOMPARE(cut.text, decodeTextFile(bytes).toLatin1());
        } else {
            QCOMPARE(cut.text, bytes);
        }
    }
}

} // namespace

class TestLatin1Lines : public QObject {
    Q_OBJECT
private slots:
    void asTheRulesSay_data();
    void asTheRulesSay();
    void randomTextsAsTheRulesSay();
};

void TestLatin1Lines::asTheRulesSay_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<int>>("cuts"); // where the pieces given before the last end
    const QByteArray fifteen = "abcdefghijklmno";
    const QByteArray e = "\xC3\xA9";
    QTest::newRow("empty") << QByteArray() << QList<int>{};
    QTest::newRow("one break alone") << QByteArray("\n") << QList<int>{};
    QTest::newRow("lone CR at the end") << fifteen + e + "xyz\r" << QList<int>{};
    QTest::newRow("lone CR as the sixteenth byte") << fifteen + "\rxyz" << QList<int>{};
    QTest::newRow("CR LF across blocks") << fifteen + "\r\n" + fifteen + "\r\n" << QList<int>{};
    QTest::newRow("CR LF across blocks after letters")
        << e + fifteen.first(13) + "\r\n" + fifteen << QList<int>{};
    QTest::newRow("CR LF across pieces") << fifteen + "\r\nb" << QList<int>{16};
    QTest::newRow("CR CR LF LF") << e + "\r\r\n\n" + fifteen + fifteen << QList<int>{};
    QTest::newRow("a lead as the sixteenth byte")
        << fifteen + e + "\n" + fifteen + e << QList<int>{};
    QTest::newRow("a lead as the sixteenth byte, nothing but ASCII before")
        << fifteen + e + fifteen + fifteen << QList<int>{};
    QTest::newRow("a lead as the thirty-second byte")
        << fifteen + "p" + fifteen + e + fifteen << QList<int>{};
    QTest::newRow("a character cut by a piece") << fifteen + e + "\n" << QList<int>{16};
    QTest::newRow("a character cut by the end") << fifteen + "\n\xC3" << QList<int>{};
    QTest::newRow("C2 and C3 letters with breaks among them")
        << (e + "\xC2\xA0\n").repeated(9) << QList<int>{7, 20};
    QTest::newRow("the highest and lowest")
        << QByteArray("\xC2\x80\xC3\xBF").repeated(8) << QList<int>{};
    QTest::newRow("a wider character at a block's start")
        << fifteen + "p\xE2\x82\xAC" + fifteen << QList<int>{};
    QTest::newRow("a wider character after a piece")
        << fifteen + "\n" + "\xC4\x80" << QList<int>{16};
    QTest::newRow("an overlong form") << fifteen + "\xC1\x81" + fifteen << QList<int>{};
    QTest::newRow("a continuation byte alone at a block's end")
        << fifteen + "\xA9" + fifteen << QList<int>{};
    QTest::newRow("a lead before a break") << fifteen + "\xC3\n" + fifteen << QList<int>{};
    QTest::newRow("Windows-1252 after letters")
        << (e + fifteen).repeated(3) + "\xE9" << QList<int>{};
    QTest::newRow("a mark further on is no Latin-1") << fifteen + "\xEF\xBB\xBF" << QList<int>{};
}

void TestLatin1Lines::asTheRulesSay() {
    QFETCH(QByteArray, bytes);
    QFETCH(QList<int>, cuts);
    checkAgainstTheRules(bytes, cuts);
}

// Texts of the bytes that matter (breaks, ASCII, leads and continuations of every kind),
// cut into pieces anywhere.
void TestLatin1Lines::randomTextsAsTheRulesSay() {
    QRandomGenerator random(20261208);
    const QList<QByteArray> parts = {"a",    "b",        "\n",           "\r",
                                     "\r\n", "\xC3\xA9", "\xC2\xA0",     "\xC3\xBF",
                                     "\xC3", "\xA9",     "\xE2\x82\xAC", "\xC4\x80"};
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes;
        const int count = random.bounded(1, 80);
        // Most texts stay Latin-1, so that both kinds are tried often.
        const qsizetype choices = random.bounded(4) == 0 ? parts.size() : 8;
        for (int k = 0; k < count; ++k)
            bytes += parts[random.bounded(choices)];
        QList<int> cuts;
        for (int at = random.bounded(1, 40); at < bytes.size(); at += random.bounded(1, 40))
            cuts.append(at);
        checkAgainstTheRules(bytes, cuts);
        if (QTest::currentTestFailed()) {
            qWarning() << "bytes" << bytes.toHex() << "cuts" << cuts;
            return;
        }
    }
}

QTEST_GUILESS_MAIN(TestLatin1Lines)
#include "tst_latin1lines.moc"
