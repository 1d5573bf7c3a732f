#include "commands/pairtestsaside.h"
#include "lists/linelistmodel.h"
#include "order/linesortsafter.h"

#include <QRandomGenerator>
#include <QTest>

using namespace varnel;

class TestPairTestsAside : public QObject {
    Q_OBJECT
private slots:
    void stretches_data();
    void stretches();
    void oneAfterAnother();
    void timeRunsOut_data();
    void timeRunsOut();
};

namespace {

constexpr qsizetype Piece = PairTestsAside::PieceLength;

// Mostly in order, each pair out of order at random, in both of the list's forms.
QStringList lines(int count) {
    QRandomGenerator random(5);
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        const QString text = QStringLiteral("Item %1").arg(i / 3 + random.bounded(2), 6);
        lines.append(random.bounded(7) == 0 ? text + QStringLiteral("Ω") : text);
    }
    return lines;
}

constexpr std::chrono::seconds Ample{60};

// Each answer up to `last` against the pair's own test, and no bit set past it.
void verifyAnswers(const LineListModel& list, qsizetype first, qsizetype last,
                   const std::vector<quint64>& answers) {
    QVERIFY(qsizetype(answers.size()) * 64 >= last - first);
    for (qsizetype bit = 0; bit < qsizetype(answers.size()) * 64; ++bit) {
        const bool set = (answers[size_t(bit / 64)] >> (bit % 64)) & 1;
        const qsizetype position = first + 1 + bit;
        const bool expected = position <= last &&
                              lineSortsAfter(list.textView(position - 1), list.textView(position));
        if (set != expected)
            QFAIL(qPrintable(QStringLiteral("position %1").arg(position)));
    }
}

} // namespace

void TestPairTestsAside::stretches_data() {
    QTest::addColumn<qsizetype>("first");
    QTest::addColumn<qsizetype>("last");
    QTest::newRow("one pair") << qsizetype(1) << qsizetype(2);
    QTest::newRow("less than a piece") << qsizetype(10) << qsizetype(80);
    QTest::newRow("one piece") << qsizetype(1) << 1 + Piece;
    QTest::newRow("one pair past a piece") << qsizetype(3) << 4 + Piece;
    QTest::newRow("many pieces to the end") << qsizetype(100) << qsizetype(10000);
}

void TestPairTestsAside::stretches() {
    QFETCH(qsizetype, first);
    QFETCH(qsizetype, last);
    LineListModel list;
    list.appendBatch(lines(10000));
    PairTestsAside aside;
    QVERIFY(aside.isAvailable());
    QCOMPARE(aside.test(list, first, last, Ample), last);
    verifyAnswers(list, first, last, aside.answers());
}

// Each stretch is answered anew, whichever thread took which piece of the one before.
void TestPairTestsAside::oneAfterAnother() {
    LineListModel list;
    list.appendBatch(lines(20000));
    PairTestsAside aside;
    for (qsizetype first = 1; first + 1 < list.count(); first += 3001) {
        const qsizetype last = std::min(list.count(), first + 3001);
        QCOMPARE(aside.test(list, first, last, Ample), last);
        verifyAnswers(list, first, last, aside.answers());
    }
}

void TestPairTestsAside::timeRunsOut_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("whole");
    QTest::newRow("short lines, a piece at a time") << 10 << 3000 << false;
    QTest::newRow("long lines, within a piece") << 70000 << 40 << false;
    QTest::newRow("one pair") << 70000 << 2 << true;
}

// Out of time, a stretch ends early, but never before its first pair, and what it tested
// up to where it ended holds.
void TestPairTestsAside::timeRunsOut() {
    QFETCH(int, length);
    QFETCH(int, count);
    QFETCH(bool, whole);
    LineListModel list;
    QStringList texts = lines(count);
    for (QString& text : texts)
        text = text.rightJustified(length, u'a');
    list.appendBatch(texts);
    PairTestsAside aside;
    const qsizetype reached = aside.test(list, 1, count, std::chrono::microseconds(0));
    QVERIFY(reached >= 2);
    QCOMPARE(reached == count, whole);
    verifyAnswers(list, 1, reached, aside.answers());
}

QTEST_GUILESS_MAIN(TestPairTestsAside)
#include "tst_pairtestsaside.moc"
