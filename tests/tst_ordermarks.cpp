#include "lists/edithistory.h"
#include "lists/linelistmodel.h"
#include "lists/ordermarks.h"
#include "order/linesortsafter.h"

#include <QRandomGenerator>
#include <QTest>

using namespace varnel;

namespace {

// What the marks must say, worked out from the whole list.
std::vector<bool> expectedParts(const LineListModel& list, int parts) {
    std::vector<bool> marked(size_t(parts), false);
    const qsizetype n = list.count();
    for (qsizetype line = 1; line < n; ++line) {
        if (lineSortsAfter(list.textView(line), list.textView(line + 1))) {
            for (int part = 0; part < parts; ++part)
                if (n * part / parts <= line - 1 && line - 1 < n * (part + 1) / parts)
                    marked[size_t(part)] = true;
        }
    }
    return marked;
}

} // namespace

class TestOrderMarks : public QObject {
    Q_OBJECT
private slots:
    void marksFollowEveryEdit_data();
    void marksFollowEveryEdit();
    void aLongListIsLookedAtInSlices();
    void firstInGoesToThePartsFirstLine();
    void aLineBackInTheMiddleMovesEveryMarkBelow();
};

void TestOrderMarks::marksFollowEveryEdit_data() {
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("parts");
    for (quint32 seed = 1; seed <= 30; ++seed)
        QTest::addRow("seed %u", seed) << seed << int(1 + seed % 13);
}

void TestOrderMarks::marksFollowEveryEdit() {
    QFETCH(quint32, seed);
    QFETCH(int, parts);
    QRandomGenerator random(seed);
    LineListModel list;
    OrderMarks marks(list);
    // Taking a removal back puts a line in the middle again.
    EditHistory history;
    history.watch(list);
    const auto word = [&] { return QString(QChar(u'a' + random.bounded(6))); };
    for (int edit = 0; edit < 60; ++edit) {
        const qsizetype n = list.count();
        switch (random.bounded(n > 1 ? 7 : 2)) {
        case 0:
            list.append(word());
            break;
        case 1: {
            QStringList batch;
            for (int i = random.bounded(1, 150); i > 0; --i)
                batch.append(word());
            list.appendBatch(batch);
            break;
        }
        case 2:
            list.removeAt(random.bounded(int(n)) + 1);
            break;
        case 3:
            list.exchange(random.bounded(int(n)) + 1, random.bounded(int(n)) + 1);
            break;
        case 4:
            list.setText(random.bounded(int(n)) + 1, word());
            break;
        case 5:
            if (random.bounded(4) == 0)
                list.clear();
            break;
        default:
            history.undo();
            break;
        }
        marks.settle();
        QCOMPARE(marks.parts(parts), expectedParts(list, parts));
    }
}

void TestOrderMarks::aLongListIsLookedAtInSlices() {
    LineListModel list;
    OrderMarks marks(list);
    QStringList lines;
    for (int i = 0; i < 300000; ++i)
        lines.append(QStringLiteral("line %1").arg(i, 7, 10, QChar(u'0')));
    lines.swapItemsAt(299990, 299991);
    // While a command runs, the lines wait; they are looked at once it has ended.
    marks.setPaused(true);
    list.appendBatch(lines);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QVERIFY(!marks.isSettled());
    marks.setPaused(false);
    QTRY_VERIFY(marks.isSettled());
    QCOMPARE(marks.parts(3), (std::vector<bool>{false, false, true}));
    // A removal below the pair moves it into no other part; the pair fixed, no mark.
    list.exchange(299991, 299992);
    QCOMPARE(marks.parts(3), (std::vector<bool>{false, false, false}));
}

void TestOrderMarks::firstInGoesToThePartsFirstLine() {
    LineListModel list;
    OrderMarks marks(list);
    list.appendBatch({"a", "c", "b", "d", "f", "e", "g", "h"});
    marks.settle();
    QCOMPARE(marks.firstIn(0, 2), 2);
    QCOMPARE(marks.firstIn(1, 2), 5);
    QCOMPARE(marks.firstIn(0, 4), 2);
    QCOMPARE(marks.firstIn(3, 4), std::nullopt);
    QCOMPARE(marks.firstIn(2, 2), std::nullopt);
}

void TestOrderMarks::aLineBackInTheMiddleMovesEveryMarkBelow() {
    LineListModel list;
    OrderMarks marks(list);
    EditHistory history;
    history.watch(list);
    QStringList lines;
    for (int i = 0; i < 400; ++i)
        lines.append(QStringLiteral("%1").arg(i % 7 == 0 ? 999 - i : i, 3, 10, QChar(u'0')));
    list.appendBatch(lines);
    for (qsizetype at : {3, 70, 200}) {
        list.removeAt(at);
        marks.settle();
        QCOMPARE(marks.parts(int(list.count())), expectedParts(list, int(list.count())));
        QVERIFY(history.undo());
        marks.settle();
        QCOMPARE(marks.parts(int(list.count())), expectedParts(list, int(list.count())));
    }
}

QTEST_GUILESS_MAIN(TestOrderMarks)
#include "tst_ordermarks.moc"
