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

// Each answer against the pair's own test, and no bit set past the stretch.
void verifyAnswers(const LineListModel& list, qsizetype first, qsizetype last,
                   const std::vector<quint64>& answers) {
    QVERIFY(!answers.empty());
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
    verifyAnswers(list, first, last, aside.test(list, first, last));
}

// Each stretch is answered anew, whichever thread took which piece of the one before.
void TestPairTestsAside::oneAfterAnother() {
    LineListModel list;
    list.appendBatch(lines(20000));
    PairTestsAside aside;
    for (qsizetype first = 1; first + 1 < list.count(); first += 3001) {
        const qsizetype last = std::min(list.count(), first + 3001);
        verifyAnswers(list, first, last, aside.test(list, first, last));
    }
}

QTEST_GUILESS_MAIN(TestPairTestsAside)
#include "tst_pairtestsaside.moc"
