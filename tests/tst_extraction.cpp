#include "commands/correctorder.h"
#include "commands/editing.h"
#include "commands/extracting.h"
#include "core/errorreport.h"
#include "order/collation.h"
#include "order/linesortsafter.h"
#include "tests/support/commandform.h"
#include "tests/support/drivenclock.h"
#include "tests/support/testfiles.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QTest>

using namespace varnel;
using namespace varnel::testing;

namespace {

struct Form : CommandForm {
    QAbstractItemModelTester inputTester{&state.input()};
    QAbstractItemModelTester resultsTester{&state.results()};
};

} // namespace

class TestExtraction : public QObject {
    Q_OBJECT
private slots:
    void walk_data();
    void walk();
    void longWalk_data();
    void longWalk();
    void inputChangedDuringASharedWalk_data();
    void inputChangedDuringASharedWalk();
    void runsReplaceResultsAndLeaveSortedMode();
    void secondClickDuringAYieldDoesNothing();
    void inputShortenedDuringAYield_data();
    void inputShortenedDuringAYield();
    void resultsSeenByHandlersDuringAYield();
    void correctOrder_data();
    void correctOrder();
    void extractionDuringCorrectOrderYields();
};

// Which pairs sort after which is the pair test's own table; these are the walk's cases.
void TestExtraction::walk_data() {
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<QString>("message");

    const QString done = QStringLiteral("Done.");
    QTest::newRow("empty list") << QStringList{} << QStringList{} << "No items added.";
    QTest::newRow("one line") << QStringList{"a"} << QStringList{} << done;
    QTest::newRow("b sorts after a") << QStringList{"b", "a", "c"} << QStringList{"b"} << done;
    QTest::newRow("the smaller line is not copied")
        << QStringList{"a", "c", "b", "d"} << QStringList{"c"} << done;
    QTest::newRow("two pairs out of order")
        << QStringList{"c", "b", "a"} << QStringList{"c", "b"} << done;
    QTest::newRow("without case") << QStringList{"Zebra", "apple"} << QStringList{"Zebra"} << done;
    QTest::newRow("only the second b") << QStringList{"b", "b", "a"} << QStringList{"b"} << done;
    QTest::newRow("results keep their own text")
        << QStringList{"Pear  ", "apple"} << QStringList{"Pear  "} << done;
}

void TestExtraction::walk() {
    QFETCH(QStringList, input);
    QFETCH(QStringList, results);
    QFETCH(QString, message);
    Form form;
    form.state.input().appendBatch(input);
    form.state.results().append(QStringLiteral("left over"));
    form.state.setPointer(Pointer::Arrow);
    extractOutOfOrderLines(form.state);
    QCOMPARE(itemsOf(form.state.results()), results);
    QCOMPARE(form.ui.messageTexts(), QStringList{message});
    QCOMPARE(form.ui.messages.first().title, QStringLiteral("Varnel"));
    QCOMPARE(form.ui.messages.first().icon, MessageIcon::None);
    QCOMPARE(itemsOf(form.state.input()), input);
    QVERIFY(!form.state.busy());
    // Only a run over lines puts the default pointer back.
    QCOMPARE(form.state.pointer(), input.isEmpty() ? Pointer::Arrow : Pointer::Default);
}

// Long enough for the walk to pass over many positions between two looks at the clock: the
// lines found are those each pair's own test finds, wherever the turns fall.
void TestExtraction::longWalk_data() {
    QTest::addColumn<QStringList>("input");
    QStringList descending, ascending, mixed;
    QRandomGenerator random(7);
    for (int i = 0; i < 3000; ++i) {
        descending.append(QStringLiteral("line %1").arg(9999 - i));
        ascending.append(QStringLiteral("Line %1").arg(1000 + i));
        mixed.append(QStringLiteral("anan %1").arg(random.bounded(100)) +
                     (random.bounded(3) == 0 ? QStringLiteral("ÿ€") : QStringLiteral("Ä")));
    }
    QTest::newRow("every pair out of order") << descending;
    QTest::newRow("none out of order") << ascending;
    QTest::newRow("both forms, some out of order") << mixed;
    QStringList shared;
    for (int i = 0; i < 70000; ++i)
        shared.append(mixed[i % mixed.size()] + QString::number(i % 7));
    QTest::newRow("long enough to share the tests with a thread") << shared;
}

void TestExtraction::longWalk() {
    QFETCH(QStringList, input);
    Form form;
    form.state.input().appendBatch(input);
    QStringList expected;
    for (qsizetype i = 1; i < input.size(); ++i) {
        if (lineSortsAfter(input[i - 1], input[i]))
            expected.append(input[i - 1]);
    }
    extractOutOfOrderLines(form.state);
    QCOMPARE(itemsOf(form.state.results()), expected);
    for (qsizetype i = 1; i <= form.state.results().count(); ++i)
        QVERIFY(form.state.input().text(form.state.results().link(i)) ==
                form.state.results().text(i));
    QCOMPARE(form.ui.messageTexts(), QStringList{QStringLiteral("Done.")});
}

void TestExtraction::inputChangedDuringASharedWalk_data() {
    QTest::addColumn<bool>("reload");
    QTest::newRow("reloaded in order") << true;
    QTest::newRow("cleared") << false;
}

// Pairs tested ahead on two threads are taken only until the window's next turn: after the
// list changed in one, nothing more of the old list is found.
void TestExtraction::inputChangedDuringASharedWalk() {
    QFETCH(bool, reload);
    Form form;
    form.state.pump().setInterval(std::chrono::microseconds(100));
    const QStringList before = descending(300000);
    QStringList after;
    for (int i = 0; i < 300000; ++i)
        after.append(QStringLiteral("Line %1").arg(i, 6, 10, QLatin1Char('0')));
    form.state.input().appendBatch(before);
    bool changed = false;
    const auto change = onTurn(3, [&] {
        changed = true;
        form.state.input().clear();
        if (reload)
            form.state.input().appendBatch(after);
    });
    extractOutOfOrderLines(form.state);
    QVERIFY(changed);
    const QStringList items = itemsOf(form.state.results());
    QVERIFY(items.size() < before.size() - 1);
    QCOMPARE(items, before.mid(0, items.size()));
    QCOMPARE(reportHeads(form.ui).size(), reload ? 0 : 1);
    QCOMPARE(form.ui.messageTexts().last(), QStringLiteral("Done."));
}

void TestExtraction::runsReplaceResultsAndLeaveSortedMode() {
    Form form;
    form.state.input().appendBatch({"c", "b", "a"});
    showCorrectOrder(form.state);
    QVERIFY(form.state.results().isSorted());
    extractOutOfOrderLines(form.state);
    extractOutOfOrderLines(form.state);
    QVERIFY(!form.state.results().isSorted());
    QCOMPARE(itemsOf(form.state.results()), (QStringList{"c", "b"}));
}

void TestExtraction::secondClickDuringAYieldDoesNothing() {
    Form form;
    form.yieldEveryLine();
    form.state.input().appendBatch({"b", "a", "c", "d"});
    int nestedRuns = 0;
    const auto again = onTurn(1, [&] {
        ++nestedRuns;
        QVERIFY(form.state.busy());
        extractOutOfOrderLines(form.state);
    });
    extractOutOfOrderLines(form.state);
    QCOMPARE(nestedRuns, 1);
    QCOMPARE(form.ui.messageTexts(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(itemsOf(form.state.results()), QStringList{QStringLiteral("b")});
    QVERIFY(!form.state.busy());
}

void TestExtraction::inputShortenedDuringAYield_data() {
    QTest::addColumn<int>("keep");
    QTest::addColumn<QStringList>("results");
    QTest::newRow("cleared") << 0 << QStringList{};
    // "z" at 2 still reads, position 3 no longer does: z is copied, then the walk ends.
    QTest::newRow("shortened to two") << 2 << QStringList{"z"};
}

void TestExtraction::inputShortenedDuringAYield() {
    QFETCH(int, keep);
    QFETCH(QStringList, results);
    Form form;
    form.yieldEveryLine();
    form.state.input().appendBatch({"a", "z", "b", "y", "c", "x", "d"});
    const auto trim = onTurn(1, [&] {
        while (form.state.input().count() > keep)
            form.state.input().removeAt(form.state.input().count());
    });
    extractOutOfOrderLines(form.state);
    QCOMPARE(reportHeads(form.ui), QStringList{"Index out of bounds\r\n" +
                                               locations::extractOutOfOrderLines + "at line 116"});
    QCOMPARE(form.ui.messages.last().text, QStringLiteral("Done."));
    QCOMPARE(itemsOf(form.state.results()), results);
    QVERIFY(!form.state.busy());
}

void TestExtraction::resultsSeenByHandlersDuringAYield() {
    Form form;
    form.yieldEveryLine();
    form.state.input().appendBatch({"b", "a", "d", "c", "e"});
    // Whenever the window gets a turn, every result above the current position is there.
    QList<qsizetype> seen;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { seen.append(form.state.results().count()); });
    timer.start(0);
    extractOutOfOrderLines(form.state);
    timer.stop();
    QVERIFY(!seen.isEmpty());
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
    QCOMPARE(seen.last(), 2);
}

void TestExtraction::correctOrder_data() {
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QStringList>("results");
    QTest::newRow("empty") << QStringList{} << QStringList{};
    QTest::newRow("pear apple banana")
        << QStringList{"pear", "Apple", "banana"} << QStringList{"Apple", "banana", "pear"};
    QTest::newRow("duplicates stay") << QStringList{"b", "a", "b"} << QStringList{"a", "b", "b"};
    QTest::newRow("accent with its base letter")
        << QStringList{"f", QStringLiteral("é")} << QStringList{QStringLiteral("é"), "f"};
}

void TestExtraction::correctOrder() {
    QFETCH(QStringList, input);
    QFETCH(QStringList, results);
    Form form;
    form.state.input().appendBatch(input);
    form.state.results().append(QStringLiteral("left over"));
    showCorrectOrder(form.state);
    showCorrectOrder(form.state); // twice gives the same list, not a doubled one
    QCOMPARE(itemsOf(form.state.results()), results);
    QCOMPARE(itemsOf(form.state.input()), input);
    QVERIFY(form.ui.messages.isEmpty());
    QVERIFY(form.state.results().isSorted());
}

// "Show Correct Order" pressed during an extraction's yield: the walk goes on appending
// into the sorted list it then finds.
void TestExtraction::extractionDuringCorrectOrderYields() {
    Form form;
    form.yieldEveryLine();
    form.state.input().appendBatch({"d", "c", "b", "a"});
    const auto sort = onTurn(2, [&] { showCorrectOrder(form.state); });
    extractOutOfOrderLines(form.state);
    const QStringList items = itemsOf(form.state.results());
    QVERIFY(form.state.results().isSorted());
    QVERIFY(std::is_sorted(items.begin(), items.end(), [](const QString& a, const QString& b) {
        return compareInCorrectOrder(a, b) < 0;
    }));
    QVERIFY(items.size() > 4);
}

QTEST_GUILESS_MAIN(TestExtraction)
#include "tst_extraction.moc"
