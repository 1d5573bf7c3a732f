#include "commands/extracting.h"
#include "commands/keyedits.h"
#include "commands/undoing.h"
#include "lists/linefind.h"
#include "tests/support/commandform.h"
#include "tests/support/testfiles.h"

#include <QTest>

using namespace varnel;
using namespace varnel::testing;

class TestKeyEdits : public QObject {
    Q_OBJECT
private slots:
    void findLine_data();
    void findLine();
    void moveSelectedLine_data();
    void moveSelectedLine();
    void resultsFollowAMovedLine();
    void pasteLines_data();
    void pasteLines();
};

void TestKeyEdits::findLine_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("from");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<int>("found"); // 0: none
    QTest::newRow("from before the first") << "apple" << 0 << true << 1;
    QTest::newRow("the next, not the one at from") << "apple" << 1 << true << 4;
    QTest::newRow("round past the end") << "apple" << 4 << true << 1;
    QTest::newRow("backwards round past the start") << "apple" << 1 << false << 4;
    QTest::newRow("backwards from after the last") << "apple" << 0 << false << 4;
    QTest::newRow("the only one comes back to itself") << "NAN" << 2 << true << 2;
    QTest::newRow("inside a line, any case") << "RRy" << 0 << true << 3;
    QTest::newRow("a wide line, any case") << u"\u03c9MEGA"_qs << 0 << true << 5;
    QTest::newRow("nowhere") << "kiwi" << 2 << true << 0;
    QTest::newRow("nothing to find") << "" << 0 << true << 0;
}

void TestKeyEdits::findLine() {
    QFETCH(QString, text);
    QFETCH(int, from);
    QFETCH(bool, forward);
    QFETCH(int, found);
    LineListModel list;
    list.appendBatch({"Apple", "banana", "cherry", "APPLE pie", u"\u03a9mega"_qs});
    const std::optional<qsizetype> at = varnel::findLine(list.snapshot(), text, from, forward);
    QCOMPARE(at.value_or(0), found);
}

void TestKeyEdits::moveSelectedLine_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("selected"); // 0: none
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("hourglass");
    QTest::addColumn<int>("to"); // 0: stays
    QTest::addColumn<QStringList>("after");
    const QStringList abc{"a", "b", "c"};
    QTest::newRow("up") << abc << 2 << -1 << false << 1 << QStringList{"b", "a", "c"};
    QTest::newRow("down") << abc << 2 << 1 << false << 3 << QStringList{"a", "c", "b"};
    QTest::newRow("up from the top") << abc << 1 << -1 << false << 0 << abc;
    QTest::newRow("down from the bottom") << abc << 3 << 1 << false << 0 << abc;
    QTest::newRow("nothing selected") << abc << 0 << 1 << false << 0 << abc;
    QTest::newRow("an equal neighbour")
        << QStringList{"a", "a"} << 1 << 1 << false << 0 << QStringList{"a", "a"};
    QTest::newRow("hourglass") << abc << 2 << 1 << true << 0 << abc;
}

void TestKeyEdits::moveSelectedLine() {
    QFETCH(QStringList, lines);
    QFETCH(int, selected);
    QFETCH(int, step);
    QFETCH(bool, hourglass);
    QFETCH(int, to);
    QFETCH(QStringList, after);
    CommandForm form;
    form.state.input().appendBatch(lines);
    if (hourglass)
        form.state.setPointer(Pointer::Hourglass);
    const auto moved = varnel::moveSelectedLine(
        form.state, selected ? std::optional<qsizetype>(selected) : std::nullopt, step);
    QCOMPARE(moved.value_or(0), to);
    QCOMPARE(itemsOf(form.state.input()), after);
}

void TestKeyEdits::resultsFollowAMovedLine() {
    CommandForm form;
    form.state.input().appendBatch({"b", "a", "c", "d"});
    extractOutOfOrderLines(form.state);
    QCOMPARE(form.state.links().inputPosition(1), 1);
    QCOMPARE(varnel::moveSelectedLine(form.state, 1, 1), 2);
    QCOMPARE(form.state.links().inputPosition(1), 2);
    // One step, taken back as a drag is.
    QVERIFY(undoEdit(form.state));
    QCOMPARE(itemsOf(form.state.input()), (QStringList{"b", "a", "c", "d"}));
    QCOMPARE(form.state.links().inputPosition(1), 1);
}

void TestKeyEdits::pasteLines_data() {
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QStringList>("added");
    QTest::newRow("each break of a file") << "x\r\ny\rz\nw" << QStringList{"x", "y", "z", "w"};
    QTest::newRow("a last break ends the last line") << "x\n" << QStringList{"x"};
    QTest::newRow("an empty line between is a line") << "x\n\ny" << QStringList{"x", "", "y"};
    QTest::newRow("empty clipboard") << "" << QStringList{};
}

void TestKeyEdits::pasteLines() {
    QFETCH(QString, clipboard);
    QFETCH(QStringList, added);
    CommandForm form;
    form.state.input().append("first");
    form.ui.clipboard = clipboard;
    const auto last = varnel::pasteLines(form.state);
    QCOMPARE(itemsOf(form.state.input()), QStringList{"first"} + added);
    QCOMPARE(last.value_or(0), added.isEmpty() ? 0 : 1 + added.size());
}

QTEST_GUILESS_MAIN(TestKeyEdits)
#include "tst_keyedits.moc"
