#include "core/eventpump.h"
#include "core/failure.h"
#include "lists/linelistmodel.h"
#include "tests/support/testfiles.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>
#include <system_error>

using namespace varnel;
using varnel::testing::itemsOf;

namespace {

// Zero-padded numbers, whose correct order is their numeric order, shuffled.
QStringList shuffledNumbers(int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines.append(QStringLiteral("%1").arg(qint64(i) * 7919 % count, 6, 10, QChar(u'0')));
    return lines;
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
    void sortedModeOnAndOff();
    void largeSort_data();
    void largeSort();
    void largeBatchShownWithTurns_data();
    void largeBatchShownWithTurns();
    void longRowsShownCut_data();
    void longRowsShownCut();
    void exchangeAndRemove();
    void loadedBufferAndSharedLines();
    void placesTakenOver_data();
    void placesTakenOver();
    void resultsLetGoOfTheInputsText_data();
    void resultsLetGoOfTheInputsText();
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
    QTest::newRow("one-byte and wider lines together")
        << QStringList{QStringLiteral("ω"), "b", QStringLiteral("Ä"), QStringLiteral("α"), "a"}
        << QStringList{"a", QStringLiteral("Ä"), "b", QStringLiteral("α"), QStringLiteral("ω")};
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

void TestLineListModel::largeSort_data() {
    QTest::addColumn<QString>("way");
    QTest::addColumn<int>("failingMemory"); // which request for memory fails; 0 none
    QTest::addColumn<bool>("threadFails");
    QTest::addColumn<bool>("aside"); // sorted on a thread of the pump's
    // "switch": sorted mode on a filled list; "selected": the same with rows a view holds;
    // "batch": a batch into an empty sorted list; "merge": into a filled one; "copy": another
    // list's lines into an empty sorted list, as "Show Correct Order" does; "copy merge":
    // into a filled one.
    for (const char* way : {"switch", "selected", "batch", "merge", "copy", "copy merge"}) {
        QTest::addRow("%s", way) << way << 0 << false << false;
        QTest::addRow("%s, no second thread", way) << way << 0 << true << false;
        QTest::addRow("%s, no memory for the order", way) << way << 1 << false << false;
        QTest::addRow("%s, no memory for the second collator", way) << way << 2 << false << false;
        QTest::addRow("%s, aside", way) << way << 0 << false << true;
        QTest::addRow("%s, aside, no memory for the order", way) << way << 1 << false << true;
    }
    // Past the sort, what each way asks for: a batch is put in order in place.
    QTest::newRow("switch, no memory to arrange the lines") << "switch" << 3 << false << false;
    QTest::newRow("selected, no memory to arrange the lines") << "selected" << 3 << false << false;
    QTest::newRow("merge, no memory for the merge") << "merge" << 3 << false << false;
    QTest::newRow("copy, no memory for the entries") << "copy" << 3 << false << false;
    QTest::newRow("copy, aside, no memory for the entries") << "copy" << 3 << false << true;
    QTest::newRow("copy merge, no memory for the entries") << "copy merge" << 3 << false << false;
    QTest::newRow("copy merge, no memory for the merge") << "copy merge" << 4 << false << false;
}

void TestLineListModel::largeSort() {
    QFETCH(QString, way);
    QFETCH(int, failingMemory);
    QFETCH(bool, threadFails);
    QFETCH(bool, aside);
    const int count = 25000; // two threads from 20,000 on
    const QStringList lines = shuffledNumbers(count);
    const QStringList head = {"000100", "000001", "024999"};
    const bool copy = way.startsWith(u"copy");
    LineListModel source;
    source.appendBatch(lines);
    LineListModel model;
    EventPump pump;
    if (aside)
        model.setPump(&pump);
    QAbstractItemModelTester tester(&model);
    if (way == u"merge" || way == u"copy merge") {
        model.setSorted(true);
        model.appendBatch(head);
    } else if (way == u"batch" || way == u"copy") {
        model.setSorted(true);
    } else {
        model.appendBatch(lines);
    }
    // A view's selection: rows spread over the list, each with the line it shows.
    QList<std::pair<QPersistentModelIndex, QString>> selection;
    if (way == u"selected")
        for (int row = 0; row < count; row += 997)
            selection.append({model.index(row), lines[row]});
    const QStringList before = itemsOf(model);
    int memoryRequests = 0;
    model.setBeforeAcquiring([&](SortResource need) {
        if (need == SortResource::Thread && threadFails)
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        if (need == SortResource::Memory && ++memoryRequests == failingMemory)
            throw std::bad_alloc();
    });
    QSignalSpy aboutToChange(&model, &QAbstractItemModel::layoutAboutToBeChanged);
    QSignalSpy changed(&model, &QAbstractItemModel::layoutChanged);

    bool failed = false;
    try {
        if (way == u"switch" || way == u"selected")
            model.setSorted(true);
        else if (copy)
            model.appendAllFrom(source);
        else
            model.appendBatch(lines);
    } catch (const std::bad_alloc&) {
        failed = true;
    }
    QCOMPARE(failed, failingMemory > 0);
    QCOMPARE(changed.count(), aboutToChange.count());
    QCOMPARE(model.isSorted(), way != u"switch" && way != u"selected" ? true : !failed);
    QStringList sorted = lines + (way.endsWith(u"merge") ? head : QStringList());
    sorted.sort();
    QCOMPARE(itemsOf(model), failed ? before : sorted);
    for (const auto& [index, text] : selection)
        QCOMPARE(index.data().toString(), text);
    // Each copied line's link leads to where it stood.
    if (copy && !failed)
        for (qsizetype i = 1; i <= model.count(); ++i)
            if (const quint32 link = model.link(i); link != 0)
                QCOMPARE(source.text(link), model.text(i));
}

void TestLineListModel::largeBatchShownWithTurns_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("inPieces");
    QTest::newRow("a thousand lines at once") << 1000 << false;
    QTest::newRow("2,400,000 lines in pieces") << 2400000 << true;
}

void TestLineListModel::largeBatchShownWithTurns() {
    QFETCH(int, count);
    QFETCH(bool, inPieces);
    const QStringList lines = shuffledNumbers(count);
    LineListModel source;
    source.appendBatch(lines);
    EventPump pump;
    LineListModel model;
    model.setPump(&pump);
    model.append(QStringLiteral("first"));
    QAbstractItemModelTester tester(&model);
    // At every turn of the event loop while the batch goes in, the list holds what its views
    // were told of, and that is the batch's first lines in order.
    QList<qsizetype> countsAtTurns;
    bool consistent = true;
    QTimer turn;
    turn.setInterval(0);
    connect(&turn, &QTimer::timeout, &model, [&] {
        const qsizetype now = model.count();
        countsAtTurns.append(now);
        consistent = consistent && model.rowCount({}) == now &&
                     (now == 1 || model.text(now) == lines[now - 2]);
    });
    turn.start();
    model.appendAllFrom(source);
    turn.stop();
    QVERIFY(consistent);
    const bool partlyShown = std::any_of(countsAtTurns.begin(), countsAtTurns.end(),
                                         [count](qsizetype n) { return n > 1 && n < count + 1; });
    QCOMPARE(partlyShown, inPieces);
    QCOMPARE(itemsOf(model), QStringList{QStringLiteral("first")} + lines);
}

void TestLineListModel::longRowsShownCut_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("shown"); // characters of the text shown; an ellipsis follows a cut
    const QString pair = QStringLiteral("😀");
    QTest::newRow("2,048 shown whole") << QString(2048, u'a') << 2048;
    QTest::newRow("2,049 cut") << QString(2049, u'a') << 2048;
    QTest::newRow("pair across the cut stays whole out of sight")
        << QString(2047, u'a') + pair + u'b' << 2047;
    QTest::newRow("pair ending at the cut shown") << QString(2046, u'a') + pair + u'b' << 2048;
}

void TestLineListModel::longRowsShownCut() {
    QFETCH(QString, text);
    QFETCH(int, shown);
    LineListModel model;
    model.append(text);
    const QString cut = shown < text.size() ? text.first(shown) + QChar(0x2026) : text;
    QCOMPARE(model.data(model.index(0), Qt::DisplayRole).toString(), cut);
    // Commands read the whole line.
    QCOMPARE(model.text(1), text);
    QCOMPARE(model.cell(1, 1), text);
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

void TestLineListModel::placesTakenOver_data() {
    QTest::addColumn<bool>("typedFirst"); // the buffer then starts further on in the storage
    QTest::addColumn<int>("longRow");     // of a line too long for its place to hold, or -1
    QTest::newRow("the storage's first buffer") << false << -1;
    QTest::newRow("after a typed line") << true << -1;
    QTest::newRow("a long line before others") << true << 1;
    QTest::newRow("a long line ending the buffer") << true << 2;
}

// A loaded file's line places become the list's entries as they are.
void TestLineListModel::placesTakenOver() {
    QFETCH(bool, typedFirst);
    QFETCH(int, longRow);
    QList<QByteArray> texts = {"alpha", "beta", "gamma"};
    if (longRow >= 0)
        texts[longRow] = QByteArray(qsizetype(StoredLine::LongLength), 'x');
    QByteArray buffer;
    LinePlaces places;
    for (const QByteArray& text : texts) {
        places.add(buffer.size(), text.size());
        buffer += text;
    }
    if (longRow >= 0) {
        const LineSpan span = places[size_t(longRow)];
        QCOMPARE(span.length, StoredLine::LongLength);
        QCOMPARE(qsizetype(span.offset), buffer.indexOf('x'));
    }
    LineListModel model;
    QStringList expected;
    if (typedFirst) {
        model.append(QStringLiteral("typed"));
        expected.append(QStringLiteral("typed"));
    }
    model.appendLatin1Lines(buffer, std::move(places));
    for (const QByteArray& text : texts)
        expected.append(QString::fromLatin1(text));
    QCOMPARE(itemsOf(model), expected);
}

void TestLineListModel::loadedBufferAndSharedLines() {
    LineListModel input;
    LineListModel results;
    QAbstractItemModelTester inputTester(&input);
    QAbstractItemModelTester resultsTester(&results);
    input.append(QStringLiteral("typed"));
    // "beta\ralpha\n\n": three lines over one buffer, the breaks left out.
    input.appendLines(QStringLiteral("beta\ralpha\n\n"), {{0, 4}, {5, 5}, {11, 0}});
    // A buffer of one byte a character: "d\xe9j\xe0\nz".
    input.appendLatin1Lines("d\xe9j\xe0\nz", {{0, 4}, {5, 1}});
    QCOMPARE(itemsOf(input),
             (QStringList{"typed", "beta", "alpha", "", QStringLiteral("déjà"), "z"}));
    results.appendFrom(input, {3, 1, 5});
    results.setSorted(true);
    results.appendAllFrom(input);
    QCOMPARE(itemsOf(results), (QStringList{"", "alpha", "alpha", "beta", QStringLiteral("déjà"),
                                            QStringLiteral("déjà"), "typed", "typed", "z"}));
    // The results keep their lines when the input goes, and take new ones of their own.
    input.clear();
    input.append(QStringLiteral("zeta"));
    results.append(QStringLiteral("gamma"));
    results.append(QStringLiteral("ω"));
    QCOMPARE(itemsOf(results), (QStringList{"", "alpha", "alpha", "beta", QStringLiteral("déjà"),
                                            QStringLiteral("déjà"), "gamma", "typed", "typed", "z",
                                            QStringLiteral("ω")}));
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

void TestLineListModel::resultsLetGoOfTheInputsText_data() {
    QTest::addColumn<bool>("all");         // the results take every line, or three
    QTest::addColumn<bool>("inputClears"); // the input lets go of its text
    QTest::addColumn<bool>("copied");      // the results hold their own small copy only
    QTest::newRow("three results, input cleared") << false << true << true;
    QTest::newRow("three results, input keeps its text") << false << false << false;
    QTest::newRow("every line, input cleared") << true << true << false;
}

void TestLineListModel::resultsLetGoOfTheInputsText() {
    QFETCH(bool, all);
    QFETCH(bool, inputClears);
    QFETCH(bool, copied);
    // A loaded file: one buffer, its lines spans of it.
    const int count = 100000;
    QString text;
    std::vector<LineSpan> spans;
    for (int i = 0; i < count; ++i) {
        const QString line = QStringLiteral("line number %1").arg(i);
        spans.push_back({quint32(text.size()), quint32(line.size())});
        text += line + u'\n';
    }
    const qsizetype loaded = text.size();
    LineListModel input, results;
    QAbstractItemModelTester tester(&results);
    input.appendLines(std::move(text), spans);
    const std::vector<qsizetype> few = {5, 77777, 100000};
    if (all)
        results.appendAllFrom(input);
    else
        results.appendFrom(input, few);
    const QStringList expected = itemsOf(results);
    if (inputClears)
        input.clear();
    QCOMPARE(itemsOf(results), expected);
    QCOMPARE(results.heldCharacters() < loaded / 10, copied);
    // The results go on working over their own buffers.
    results.append(QStringLiteral("more"));
    QCOMPARE(results.text(results.count()), QStringLiteral("more"));
}

QTEST_GUILESS_MAIN(TestLineListModel)
#include "tst_linelistmodel.moc"
