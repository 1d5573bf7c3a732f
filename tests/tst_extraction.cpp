#include "app/errorreport.h"
#include "app/windowstate.h"
#include "extract/correctorder.h"
#include "extract/extraction.h"
#include "lists/listediting.h"
#include "support/scripteduserinterface.h"

#include <QAbstractItemModelTester>
#include <QTest>
#include <QTimer>

using namespace varnel;
using varnel::testing::ScriptedUserInterface;

namespace {

QStringList itemsOf(const LineListModel& model)
{
    QStringList items;
    for (qsizetype i = 1; i <= model.count(); ++i)
        items.append(model.text(i));
    return items;
}

// A window's worth of state whose yields turn the event loop on every line, so a test's
// timers land in the middle of a walk.
struct Form {
    ScriptedUserInterface ui;
    WindowState state{ui};
    QAbstractItemModelTester inputTester{&state.input()};
    QAbstractItemModelTester resultsTester{&state.results()};
    Form() { state.setApplicationTitle(QStringLiteral("Varnel")); }
    void yieldEveryLine() { state.pump().setInterval(std::chrono::microseconds(0)); }
};

} // namespace

class TestExtraction : public QObject {
    Q_OBJECT
private slots:
    void walk_data();
    void walk();
    void messageCarriesApplicationTitle();
    void runsReplaceResultsAndLeaveSortedMode();
    void secondClickDuringAYieldDoesNothing();
    void inputShortenedDuringAYield_data();
    void inputShortenedDuringAYield();
    void resultsSeenByHandlersDuringAYield();
    void correctOrder_data();
    void correctOrder();
    void extractionDuringCorrectOrderYields();
};

void TestExtraction::walk_data()
{
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<QString>("message");

    const QString done = QStringLiteral("Done.");
    QTest::newRow("empty list") << QStringList{} << QStringList{} << "No items added.";
    QTest::newRow("one line") << QStringList{"a"} << QStringList{} << done;
    QTest::newRow("b sorts after a") << QStringList{"b", "a", "c"} << QStringList{"b"} << done;
    QTest::newRow("the smaller line is not copied")
        << QStringList{"a", "c", "b", "d"} << QStringList{"c"} << done;
    QTest::newRow("two pairs out of order") << QStringList{"c", "b", "a"} << QStringList{"c", "b"}
                                            << done;
    QTest::newRow("case only differs") << QStringList{"apple", "Apple", "APPLE"} << QStringList{}
                                       << done;
    QTest::newRow("without case") << QStringList{"Zebra", "apple"} << QStringList{"Zebra"} << done;
    QTest::newRow("in order without case") << QStringList{"apple", "Zebra"} << QStringList{}
                                           << done;
    QTest::newRow("only the second b") << QStringList{"b", "b", "a"} << QStringList{"b"} << done;
    QTest::newRow("digits are not numbers") << QStringList{"item9", "item10"}
                                            << QStringList{"item9"} << done;
    QTest::newRow("blank before letters") << QStringList{"ab", "a b"} << QStringList{"ab"} << done;
    QTest::newRow("prefix first") << QStringList{"abc", "ab"} << QStringList{"abc"} << done;
    QTest::newRow("underscore before a") << QStringList{"a", "_x"} << QStringList{"a"} << done;
    QTest::newRow("accent after ascii") << QStringList{QStringLiteral("é"), "f"}
                                        << QStringList{QStringLiteral("é")} << done;
    QTest::newRow("leading blank counts") << QStringList{" z", "a"} << QStringList{} << done;
    QTest::newRow("results keep their own text")
        << QStringList{"Pear  ", "apple"} << QStringList{"Pear  "} << done;
    QTest::newRow("sample data") << sampleLines() << QStringList{"Jolene Sarrow"} << done;
}

void TestExtraction::walk()
{
    QFETCH(QStringList, input);
    QFETCH(QStringList, results);
    QFETCH(QString, message);
    Form form;
    form.state.input().appendBatch(input);
    form.state.results().append(QStringLiteral("left over"));
    form.state.setPointer(Pointer::Arrow);
    PushButton7_Click(form.state);
    QCOMPARE(itemsOf(form.state.results()), results);
    QCOMPARE(form.ui.messageTexts(), QStringList{message});
    QCOMPARE(itemsOf(form.state.input()), input);
    QVERIFY(!form.state.busy());
    // Only a run over lines puts the default pointer back.
    QCOMPARE(form.state.pointer(), input.isEmpty() ? Pointer::Arrow : Pointer::Default);
}

void TestExtraction::messageCarriesApplicationTitle()
{
    Form form;
    form.state.input().append(QStringLiteral("x"));
    PushButton7_Click(form.state);
    QCOMPARE(form.ui.messages.size(), 1);
    QCOMPARE(form.ui.messages.first().title, QStringLiteral("Varnel"));
    QCOMPARE(form.ui.messages.first().icon, MessageIcon::None);
}

void TestExtraction::runsReplaceResultsAndLeaveSortedMode()
{
    Form form;
    form.state.input().appendBatch({QStringLiteral("c"), QStringLiteral("b"), QStringLiteral("a")});
    PushButton5_Click(form.state);
    QVERIFY(form.state.results().isSorted());
    PushButton7_Click(form.state);
    PushButton7_Click(form.state);
    QVERIFY(!form.state.results().isSorted());
    QCOMPARE(itemsOf(form.state.results()), (QStringList{"c", "b"}));
}

void TestExtraction::secondClickDuringAYieldDoesNothing()
{
    Form form;
    form.yieldEveryLine();
    form.state.input().appendBatch({QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("c"),
                                    QStringLiteral("d")});
    int nestedRuns = 0;
    QTimer::singleShot(0, [&] {
        ++nestedRuns;
        QVERIFY(form.state.busy());
        PushButton7_Click(form.state);
    });
    PushButton7_Click(form.state);
    QCOMPARE(nestedRuns, 1);
    QCOMPARE(form.ui.messageTexts(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(itemsOf(form.state.results()), QStringList{QStringLiteral("b")});
    QVERIFY(!form.state.busy());
}

void TestExtraction::inputShortenedDuringAYield_data()
{
    QTest::addColumn<int>("keep");
    QTest::addColumn<QStringList>("results");
    QTest::newRow("cleared") << 0 << QStringList{};
    // "z" at 2 still reads, position 3 no longer does: z is copied, then the walk ends.
    QTest::newRow("shortened to two") << 2 << QStringList{"z"};
}

void TestExtraction::inputShortenedDuringAYield()
{
    QFETCH(int, keep);
    QFETCH(QStringList, results);
    Form form;
    form.yieldEveryLine();
    form.state.input().appendBatch(
        {QStringLiteral("a"), QStringLiteral("z"), QStringLiteral("b"), QStringLiteral("y"),
         QStringLiteral("c"), QStringLiteral("x"), QStringLiteral("d")});
    // At the first yield the user trims the list.
    int yields = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (++yields == 1) {
            while (form.state.input().count() > keep)
                form.state.input().removeAt(form.state.input().count());
        }
    });
    timer.start(0);
    PushButton7_Click(form.state);
    QStringList reports;
    for (const auto& m : form.ui.messages)
        if (m.title == QStringLiteral("Application Error"))
            reports.append(m.text);
    QCOMPARE(reports.size(), 1);
    QVERIFY(reports.first().startsWith(QStringLiteral("Index out of bounds\r\n")
                                       + locations::PushButton7 + QStringLiteral("at line 116")));
    QCOMPARE(form.ui.messages.last().text, QStringLiteral("Done."));
    QCOMPARE(itemsOf(form.state.results()), results);
    QVERIFY(!form.state.busy());
}

void TestExtraction::resultsSeenByHandlersDuringAYield()
{
    Form form;
    form.yieldEveryLine();
    form.state.input().appendBatch({QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("d"),
                                    QStringLiteral("c"), QStringLiteral("e")});
    // Whenever the window gets a turn, every result above the current position is there.
    QList<qsizetype> seen;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { seen.append(form.state.results().count()); });
    timer.start(0);
    PushButton7_Click(form.state);
    timer.stop();
    QVERIFY(!seen.isEmpty());
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
    QCOMPARE(seen.last(), 2);
}

void TestExtraction::correctOrder_data()
{
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QStringList>("results");
    QTest::newRow("empty") << QStringList{} << QStringList{};
    QTest::newRow("pear apple banana") << QStringList{"pear", "Apple", "banana"}
                                       << QStringList{"Apple", "banana", "pear"};
    QTest::newRow("duplicates stay") << QStringList{"b", "a", "b"} << QStringList{"a", "b", "b"};
    QTest::newRow("accent with its base letter")
        << QStringList{QStringLiteral("f"), QStringLiteral("é")}
        << QStringList{QStringLiteral("é"), QStringLiteral("f")};
}

void TestExtraction::correctOrder()
{
    QFETCH(QStringList, input);
    QFETCH(QStringList, results);
    Form form;
    form.state.input().appendBatch(input);
    form.state.results().append(QStringLiteral("left over"));
    PushButton5_Click(form.state);
    PushButton5_Click(form.state); // twice gives the same list, not a doubled one
    QCOMPARE(itemsOf(form.state.results()), results);
    QCOMPARE(itemsOf(form.state.input()), input);
    QVERIFY(form.ui.messages.isEmpty());
    QVERIFY(form.state.results().isSorted());
}

void TestExtraction::extractionDuringCorrectOrderYields()
{
    // "Show Correct Order" pressed during an extraction's yield: the walk goes on appending
    // into the sorted list it then finds.
    Form form;
    form.yieldEveryLine();
    form.state.input().appendBatch({QStringLiteral("d"), QStringLiteral("c"), QStringLiteral("b"),
                                    QStringLiteral("a")});
    int yields = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (++yields == 2)
            PushButton5_Click(form.state);
    });
    timer.start(0);
    PushButton7_Click(form.state);
    timer.stop();
    const QStringList items = itemsOf(form.state.results());
    QVERIFY(form.state.results().isSorted());
    QStringList sorted = items;
    std::sort(sorted.begin(), sorted.end(),
              [](const QString& a, const QString& b) { return CorrectOrderCompare(a, b) < 0; });
    QCOMPARE(items, sorted);
    QVERIFY(items.size() > 4);
}

QTEST_GUILESS_MAIN(TestExtraction)
#include "tst_extraction.moc"
