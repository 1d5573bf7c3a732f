#include "commands/editing.h"
#include "commands/windowstate.h"
#include "tests/support/testfiles.h"

#include <QAbstractItemModelTester>
#include <QTest>

using namespace varnel;
using namespace varnel::testing;

class TestListEditing : public QObject {
    Q_OBJECT
private slots:
    void addOneItem_data();
    void addOneItem();
    void sampleDataAppendsEachClick();
    void removals_data();
    void removals();
    void clearLists();
};

void TestListEditing::addOneItem_data() {
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("cancelled") << QStringList{} << QStringList{};
    QTest::newRow("empty entry") << QStringList{""} << QStringList{};
    QTest::newRow("blanks only") << QStringList{"   "} << QStringList{};
    QTest::newRow("blanks kept around a word")
        << QStringList{"  pear  "} << QStringList{"  pear  "};
    QTest::newRow("a tab is not a blank") << QStringList{"\t"} << QStringList{"\t"};
    // Regression: pasted line breaks stayed in the line and were saved as several lines.
    QTest::newRow("line breaks as the box shows them")
        << QStringList{"first\nsecond\r\nthird\r"} << QStringList{"first second  third "};
    QTest::newRow("a line break alone") << QStringList{"\r\n"} << QStringList{};
}

void TestListEditing::addOneItem() {
    QFETCH(QStringList, answers);
    QFETCH(QStringList, items);
    ScriptedUserInterface ui;
    WindowState state(ui);
    ui.inputAnswers = answers;
    varnel::addOneItem(state);
    QCOMPARE(ui.prompts, QStringList{QStringLiteral("Enter Item:  | Input Item")});
    QCOMPARE(itemsOf(state.input()), items);
    QVERIFY(ui.messages.isEmpty());
}

void TestListEditing::sampleDataAppendsEachClick() {
    ScriptedUserInterface ui;
    WindowState state(ui);
    QAbstractItemModelTester tester(&state.input());
    loadSampleData(state);
    QCOMPARE(itemsOf(state.input()), sampleLines());
    loadSampleData(state);
    QCOMPARE(itemsOf(state.input()), sampleLines() + sampleLines());
    QVERIFY(ui.messages.isEmpty());
}

void TestListEditing::removals_data() {
    QTest::addColumn<int>("items");
    QTest::addColumn<int>("selected"); // 0: nothing selected
    QTest::addColumn<bool>("hourglass");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("third of five") << 5 << 3 << false << QStringList{"1", "2", "4", "5"};
    QTest::newRow("nothing selected") << 3 << 0 << false << QStringList{"1", "2", "3"};
    QTest::newRow("empty list") << 0 << 0 << false << QStringList{};
    QTest::newRow("hourglass locks") << 3 << 2 << true << QStringList{"1", "2", "3"};
    QTest::newRow("stale selection") << 2 << 7 << false << QStringList{"1", "2"};
}

void TestListEditing::removals() {
    QFETCH(int, items);
    QFETCH(int, selected);
    QFETCH(bool, hourglass);
    QFETCH(QStringList, left);
    ScriptedUserInterface ui;
    WindowState state(ui);
    for (int i = 1; i <= items; ++i)
        state.input().append(QString::number(i));
    if (hourglass)
        state.setPointer(Pointer::Hourglass);
    removeSelectedItem(state, state.input(),
                       selected ? std::optional<qsizetype>(selected) : std::nullopt);
    QCOMPARE(itemsOf(state.input()), left);
}

void TestListEditing::clearLists() {
    ScriptedUserInterface ui;
    WindowState state(ui);
    state.input().append(QStringLiteral("in"));
    state.results().append(QStringLiteral("out"));
    state.setPointer(Pointer::Hourglass);
    clearInputList(state);   // refused while the hourglass shows
    clearResultsList(state); // the results list has no such lock
    QCOMPARE(state.input().count(), 1);
    QCOMPARE(state.results().count(), 0);
    state.setPointer(Pointer::Default);
    clearInputList(state);
    clearInputList(state);
    QCOMPARE(state.input().count(), 0);
    QVERIFY(ui.messages.isEmpty());
}

QTEST_GUILESS_MAIN(TestListEditing)
#include "tst_listediting.moc"
