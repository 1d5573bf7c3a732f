#include "core/failure.h"
#include "lists/linelistmodel.h"
#include "support/testfiles.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <functional>

using namespace varnel;
using varnel::testing::itemsOf;

class TestLineListModel : public QObject {
    Q_OBJECT
private slots:
    void storesTextsUnchanged();
    void positionOutsideTheListFails_data();
    void positionOutsideTheListFails();
    void batchAppendIsOneInsertion();
    void sortedOrder_data();
    void sortedOrder();
    void sortedModeOnAndOff();
    void exchangeAndRemove();
    void loadedBufferAndSharedLines();
};

void TestLineListModel::storesTextsUnchanged() {
    LineListModel model;
    QAbstractItemModelTester tester(&model);
    const QStringList texts = {QStringLiteral("  pear  "), QString(), QStringLiteral("a\tb"),
                               QString(100000, u'x'), QStringLiteral("É")};
    for (const QString& t : texts)
        model.append(t);
    QCOMPARE(itemsOf(model), texts);
    QCOMPARE(model.data(model.index(0), Qt::DisplayRole).toString(), texts.first());
}

void TestLineListModel::positionOutsideTheListFails_data() {
    QTest::addColumn<int>("position");
    QTest::newRow("zero") << 0;
    QTest::newRow("one past the end") << 3;
    QTest::newRow("negative") << -1;
}

void TestLineListModel::positionOutsideTheListFails() {
    QFETCH(int, position);
    LineListModel model;
    model.appendBatch({QStringLiteral("a"), QStringLiteral("b")});
    for (const auto& action : std::initializer_list<std::function<void()>>{
             [&] { model.text(position); }, [&] { model.removeAt(position); },
             [&] { model.setText(position, QStringLiteral("x")); }}) {
        try {
            action();
            QFAIL("no failure");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number(), int(ErrorNumber::IndexOutOfBounds));
            QCOMPARE(failure.description(), QStringLiteral("Index out of bounds"));
        }
    }
    QCOMPARE(model.count(), 2);
}

void TestLineListModel::batchAppendIsOneInsertion() {
    LineListModel model;
    QAbstractItemModelTester tester(&model);
    model.append(QStringLiteral("first"));
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QStringList batch;
    for (int i = 0; i < 1000; ++i)
        batch.append(QString::number(i));
    model.appendBatch(batch);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.first().at(1).toInt(), 1);
    QCOMPARE(inserted.first().at(2).toInt(), 1000);
    QCOMPARE(model.text(1001), QStringLiteral("999"));
}

void TestLineListModel::sortedOrder_data() {
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QStringList>("sorted");

    QTest::newRow("case does not push capitals ahead")
        << QStringList{"pear", "Apple", "banana"} << QStringList{"Apple", "banana", "pear"};
    QTest::newRow("duplicates stay") << QStringList{"b", "a", "b"} << QStringList{"a", "b", "b"};
    QTest::newRow("accent beside its base letter")
        << QStringList{"f", QStringLiteral("é"), "e"} << QStringList{"e", QStringLiteral("é"), "f"};
    QTest::newRow("capital among lower case") << QStringList{"m", "c", "x", "a", "z", "n", "B"}
                                              << QStringList{"a", "B", "c", "m", "n", "x", "z"};
    QTest::newRow("empty") << QStringList{} << QStringList{};
}

void TestLineListModel::sortedOrder() {
    QFETCH(QStringList, input);
    QFETCH(QStringList, sorted);
    // One at a time, as one batch, and as batches merged into a sorted list must agree.
    LineListModel single, batch, halves;
    QAbstractItemModelTester singleTester(&single), batchTester(&batch), halvesTester(&halves);
    for (LineListModel* model : {&single, &batch, &halves})
        model->setSorted(true);
    for (const QString& t : input)
        single.append(t);
    batch.appendBatch(input);
    halves.appendBatch(input.mid(0, input.size() / 2));
    halves.appendBatch(input.mid(input.size() / 2));
    QCOMPARE(itemsOf(single), sorted);
    QCOMPARE(itemsOf(batch), sorted);
    QCOMPARE(itemsOf(halves), sorted);
}

void TestLineListModel::sortedModeOnAndOff() {
    LineListModel model;
    QAbstractItemModelTester tester(&model);
    model.appendBatch({"c", "a", "b"});
    QPersistentModelIndex c = model.index(0);
    model.setSorted(true);
    QCOMPARE(itemsOf(model), (QStringList{"a", "b", "c"}));
    QCOMPARE(c.row(), 2);
    // Clearing keeps the mode; clearing an empty list has nothing to do and does not fail.
    model.clear();
    model.clear();
    QCOMPARE(model.count(), 0);
    QVERIFY(model.isSorted());
    model.appendBatch({"c", "a", "b"});
    // Leaving sorted mode keeps the order; later appends go to the end.
    model.setSorted(false);
    model.append(QStringLiteral("0"));
    QCOMPARE(model.text(4), QStringLiteral("0"));
}

void TestLineListModel::exchangeAndRemove() {
    LineListModel model;
    QAbstractItemModelTester tester(&model);
    model.appendBatch({"1", "2", "3", "4", "5"});
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.exchange(1, 5);
    QCOMPARE(itemsOf(model), (QStringList{"5", "2", "3", "4", "1"}));
    QCOMPARE(changed.count(), 2);
    model.removeAt(3);
    QCOMPARE(itemsOf(model), (QStringList{"5", "2", "4", "1"}));
    model.setText(2, QStringLiteral("two"));
    QCOMPARE(model.text(2), QStringLiteral("two"));
}

void TestLineListModel::loadedBufferAndSharedLines() {
    LineListModel input;
    LineListModel results;
    QAbstractItemModelTester inputTester(&input);
    QAbstractItemModelTester resultsTester(&results);
    input.append(QStringLiteral("typed"));
    // "beta\ralpha\n\n": three lines over one buffer, the breaks left out.
    input.appendLines(QStringLiteral("beta\ralpha\n\n"), {{0, 4}, {5, 5}, {11, 0}});
    QCOMPARE(itemsOf(input), (QStringList{"typed", "beta", "alpha", ""}));
    results.appendFrom(input, {3, 1});
    results.setSorted(true);
    results.appendAllFrom(input);
    QCOMPARE(itemsOf(results), (QStringList{"", "alpha", "alpha", "beta", "typed", "typed"}));
    // The results keep their lines when the input goes, and take new ones of their own.
    input.clear();
    input.append(QStringLiteral("zeta"));
    results.append(QStringLiteral("gamma"));
    QCOMPARE(itemsOf(results),
             (QStringList{"", "alpha", "alpha", "beta", "gamma", "typed", "typed"}));
    // Many single appends spill over into further buffers without moving earlier lines.
    LineListModel many;
    for (int i = 0; i < 20000; ++i)
        many.append(QString::number(i));
    QCOMPARE(many.text(1), QStringLiteral("0"));
    QCOMPARE(many.text(20000), QStringLiteral("19999"));
    try {
        input.appendLines(QStringLiteral("ab"), {{1, 5}});
        QFAIL("a span past its buffer was taken");
    } catch (const Failure&) {
    }
    QCOMPARE(input.count(), 1);
}

QTEST_GUILESS_MAIN(TestLineListModel)
#include "tst_linelistmodel.moc"
