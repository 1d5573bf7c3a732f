#include "app/failure.h"
#include "lists/linelistmodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace varnel;

namespace {

QStringList itemsOf(const LineListModel& model)
{
    QStringList items;
    for (qsizetype i = 1; i <= model.count(); ++i)
        items.append(model.text(i));
    return items;
}

} // namespace

class TestLineListModel : public QObject {
    Q_OBJECT
private slots:
    void storesTextsUnchanged();
    void positionOutsideTheListFails_data();
    void positionOutsideTheListFails();
    void batchAppendIsOneInsertion();
    void sortedOrder_data();
    void sortedOrder();
    void sortedModeKeepsOrderAfterEveryAppend();
    void switchingSortedOnSortsExistingItems();
    void exchangeAndRemove();
    void clearKeepsMode();
    void header();
    void loadedBufferAndSharedLines();
};

void TestLineListModel::storesTextsUnchanged()
{
    LineListModel model;
    QAbstractItemModelTester tester(&model);
    const QStringList texts = {QStringLiteral("  pear  "), QString(), QStringLiteral("a\tb"),
                               QString(100000, u'x'), QStringLiteral("É")};
    for (const QString& t : texts)
        model.append(t);
    QCOMPARE(itemsOf(model), texts);
    QCOMPARE(model.data(model.index(0), Qt::DisplayRole).toString(), texts.first());
}

void TestLineListModel::positionOutsideTheListFails_data()
{
    QTest::addColumn<int>("position");
    QTest::newRow("zero") << 0;
    QTest::newRow("one past the end") << 3;
    QTest::newRow("negative") << -1;
}

void TestLineListModel::positionOutsideTheListFails()
{
    QFETCH(int, position);
    LineListModel model;
    model.appendBatch({QStringLiteral("a"), QStringLiteral("b")});
    for (auto action : {+[](LineListModel& m, int p) { m.text(p); },
                        +[](LineListModel& m, int p) { m.removeAt(p); },
                        +[](LineListModel& m, int p) { m.setText(p, QStringLiteral("x")); }}) {
        try {
            action(model, position);
            QFAIL("no failure");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number(), int(ErrorNumber::IndexOutOfBounds));
            QCOMPARE(failure.description(), QStringLiteral("Index out of bounds"));
        }
    }
    QCOMPARE(model.count(), 2);
}

void TestLineListModel::batchAppendIsOneInsertion()
{
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

void TestLineListModel::sortedOrder_data()
{
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QStringList>("sorted");

    QTest::newRow("case does not push capitals ahead")
        << QStringList{"pear", "Apple", "banana"} << QStringList{"Apple", "banana", "pear"};
    QTest::newRow("duplicates stay") << QStringList{"b", "a", "b"} << QStringList{"a", "b", "b"};
    QTest::newRow("accent beside its base letter")
        << QStringList{"f", QStringLiteral("é"), "e"} << QStringList{"e", QStringLiteral("é"), "f"};
    QTest::newRow("sample names")
        << QStringList{"Corin Melvane", "Jolene Sarrow", "Dorian Tessick", "Kendra Bellwood",
                       "Kyran Foss",    "Lara Kettle",   "Lionel Zarek",   "Lorna Ashby",
                       "Nadia Orrell",  "Simone Sallow"}
        << QStringList{"Corin Melvane", "Dorian Tessick", "Jolene Sarrow", "Kendra Bellwood",
                       "Kyran Foss",    "Lara Kettle",    "Lionel Zarek",  "Lorna Ashby",
                       "Nadia Orrell",  "Simone Sallow"};
    QTest::newRow("empty") << QStringList{} << QStringList{};
}

void TestLineListModel::sortedOrder()
{
    QFETCH(QStringList, input);
    QFETCH(QStringList, sorted);
    // One at a time and as one batch must agree.
    LineListModel single;
    QAbstractItemModelTester singleTester(&single);
    single.setSorted(true);
    for (const QString& t : input)
        single.append(t);
    QCOMPARE(itemsOf(single), sorted);

    LineListModel batch;
    QAbstractItemModelTester batchTester(&batch);
    batch.setSorted(true);
    batch.appendBatch(input);
    QCOMPARE(itemsOf(batch), sorted);
}

void TestLineListModel::sortedModeKeepsOrderAfterEveryAppend()
{
    LineListModel model;
    QAbstractItemModelTester tester(&model);
    model.setSorted(true);
    model.appendBatch({QStringLiteral("m"), QStringLiteral("c"), QStringLiteral("x")});
    model.append(QStringLiteral("a"));
    model.appendBatch({QStringLiteral("z"), QStringLiteral("n"), QStringLiteral("B")});
    QCOMPARE(itemsOf(model), (QStringList{"a", "B", "c", "m", "n", "x", "z"}));
}

void TestLineListModel::switchingSortedOnSortsExistingItems()
{
    LineListModel model;
    QAbstractItemModelTester tester(&model);
    model.appendBatch({QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("b")});
    QPersistentModelIndex c = model.index(0);
    model.setSorted(true);
    QCOMPARE(itemsOf(model), (QStringList{"a", "b", "c"}));
    QCOMPARE(c.row(), 2);
    // Leaving sorted mode keeps the order; later appends go to the end.
    model.setSorted(false);
    model.append(QStringLiteral("0"));
    QCOMPARE(model.text(4), QStringLiteral("0"));
}

void TestLineListModel::exchangeAndRemove()
{
    LineListModel model;
    QAbstractItemModelTester tester(&model);
    model.appendBatch({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                       QStringLiteral("4"), QStringLiteral("5")});
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.exchange(1, 5);
    QCOMPARE(itemsOf(model), (QStringList{"5", "2", "3", "4", "1"}));
    QCOMPARE(changed.count(), 2);
    model.removeAt(3);
    QCOMPARE(itemsOf(model), (QStringList{"5", "2", "4", "1"}));
    model.setText(2, QStringLiteral("two"));
    QCOMPARE(model.text(2), QStringLiteral("two"));
}

void TestLineListModel::clearKeepsMode()
{
    LineListModel model;
    QAbstractItemModelTester tester(&model);
    model.setSorted(true);
    model.appendBatch({QStringLiteral("b"), QStringLiteral("a")});
    model.clear();
    QCOMPARE(model.count(), 0);
    QVERIFY(model.isSorted());
    model.clear(); // on an empty list: nothing to do, nothing fails
    QCOMPARE(model.count(), 0);
}

void TestLineListModel::header()
{
    LineListModel model;
    QAbstractItemModelTester tester(&model);
    QVERIFY(!model.headerData(0, Qt::Horizontal, Qt::DisplayRole).isValid());
    model.addColumnHeader(QStringLiteral("Results"));
    QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("Results"));
    QCOMPARE(model.columnCaption(1), QStringLiteral("Results"));
}

void TestLineListModel::loadedBufferAndSharedLines()
{
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
