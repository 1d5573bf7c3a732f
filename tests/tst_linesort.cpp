#include "core/failure.h"
#include "order/collation.h"
#include "order/linesort.h"

#include <QCollator>
#include <QTest>

#include <cstring>
#include <system_error>

#include <sys/mman.h>
#include <unistd.h>

using namespace varnel;

Q_DECLARE_METATYPE(varnel::LineOrder)

namespace {

using Order = std::vector<quint32>;

// The order of `lines` by the sort, and the lines in that order.
Order orderOf(const QStringList& lines, LineSort& sort) {
    std::vector<LineText> texts;
    for (const QString& line : lines)
        texts.push_back(LineText(line));
    return sort.order(texts.size(), [&texts](quint32 i) { return texts[i]; }).toVector();
}

QStringList arranged(const QStringList& lines, const Order& order) {
    QStringList out;
    for (quint32 i : order)
        out.append(lines[qsizetype(i)]);
    return out;
}

// "a" and "b" a quarter each, then "B", which collates as "b", for half: the two threads
// get the lower and the upper half, so the lower half's "b" and the upper half's "B" meet
// only where the halves are merged.
QStringList quartersAndHalf(int count) {
    return QStringList(count / 4, QStringLiteral("a")) +
           QStringList(count / 4, QStringLiteral("b")) +
           QStringList(count / 2, QStringLiteral("B"));
}

bool isIdentity(const Order& order, quint32 from, quint32 to) {
    for (quint32 i = from; i < to; ++i)
        if (order[i] != i)
            return false;
    return true;
}

} // namespace

class TestLineSort : public QObject {
    Q_OBJECT
private slots:
    void sorts_data();
    void sorts();
    void equalLinesKeepTheirOrder_data();
    void equalLinesKeepTheirOrder();
    void linesSharingAStartAddress();
    void shortLineBeforeAnUnreadablePage();
    void stops_data();
    void stops();
    void failsBeforeSorting_data();
    void failsBeforeSorting();
};

void TestLineSort::sorts_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("sorted");
    QTest::addColumn<LineOrder>("order");
    const LineOrder code{LineOrder::Rule::Code, false};
    const LineOrder codeNumeric{LineOrder::Rule::Code, true};
    const LineOrder localeNumeric{LineOrder::Rule::Locale, true};
    QTest::newRow("code: accent after z, capitals kept in place")
        << QStringList{"zebra", QStringLiteral("école"), "Eagle", "eagle", "foo_bar", "foo1"}
        << QStringList{"Eagle", "eagle", "foo1", "foo_bar", "zebra", QStringLiteral("école")}
        << code;
    QTest::newRow("code, numeric")
        << QStringList{"item10", "Item9", "item09", "item1"}
        << QStringList{"item1", "Item9", "item09", "item10"} << codeNumeric;
    QTest::newRow("locale, numeric: leading zeros are nothing")
        << QStringList{"A10", "A01", "a2", "A1"} << QStringList{"A01", "A1", "a2", "A10"}
        << localeNumeric;
    QTest::newRow("case does not push capitals ahead")
        << QStringList{"pear", "Apple", "banana"} << QStringList{"Apple", "banana", "pear"}
        << LineOrder{};
    QTest::newRow("accent beside its base letter")
        << QStringList{"f", QStringLiteral("é"), "e"} << QStringList{"e", QStringLiteral("é"), "f"}
        << LineOrder{};
    QTest::newRow("reversed") << QStringList{"e", "d", "c", "b", "a"}
                              << QStringList{"a", "b", "c", "d", "e"} << LineOrder{};
    QTest::newRow("one-byte and wider lines together")
        << QStringList{QStringLiteral("ω"), "b", QStringLiteral("Ä"), QStringLiteral("α"), "a"}
        << QStringList{"a", QStringLiteral("Ä"), "b", QStringLiteral("α"), QStringLiteral("ω")}
        << LineOrder{};
    QTest::newRow("longer than the fixed buffer")
        << QStringList{QString(300, u'b'), QString(300, u'a') + u'c', QString(300, u'a') + u'b'}
        << QStringList{QString(300, u'a') + u'b', QString(300, u'a') + u'c', QString(300, u'b')}
        << LineOrder{};
    // Lines alike for longer than a sort key prefix tells: the whole lines decide.
    const QString alike = QStringLiteral("abcdefghijklmnop");
    QTest::newRow("alike, then a digit")
        << QStringList{alike + u'2', alike + QStringLiteral("10"), alike + u'1'}
        << QStringList{alike + u'1', alike + QStringLiteral("10"), alike + u'2'} << LineOrder{};
    QTest::newRow("alike, then an accent")
        << QStringList{alike + u'f', alike + u'é', alike + u'e'}
        << QStringList{alike + u'e', alike + u'é', alike + u'f'} << LineOrder{};
    QTest::newRow("alike, then only case: equal, as they came")
        << QStringList{alike + u'Q', alike + u'q', alike + u'Q'}
        << QStringList{alike + u'Q', alike + u'q', alike + u'Q'} << LineOrder{};
    QTest::newRow("alike, one ends first")
        << QStringList{alike + QStringLiteral("qr"), alike, alike + u'q'}
        << QStringList{alike, alike + u'q', alike + QStringLiteral("qr")} << LineOrder{};
    const QString greek = QStringLiteral("αβγδεζηθικλμ");
    QTest::newRow("alike, wide") << QStringList{greek + u'ξ', alike, greek + u'ν'}
                                 << QStringList{alike, greek + u'ν', greek + u'ξ'} << LineOrder{};
    QTest::newRow("one") << QStringList{"x"} << QStringList{"x"} << LineOrder{};
    QTest::newRow("none") << QStringList{} << QStringList{} << LineOrder{};
}

void TestLineSort::sorts() {
    QFETCH(QStringList, lines);
    QFETCH(QStringList, sorted);
    QFETCH(LineOrder, order);
    LineSort sort(order);
    QCOMPARE(arranged(lines, orderOf(lines, sort)), sorted);
    QCOMPARE(sort.progress(), 1.0);
}

void TestLineSort::equalLinesKeepTheirOrder_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("threadFails");
    QTest::newRow("one thread") << 1000 << false;
    QTest::newRow("two threads") << int(LineSort::TwoThreadSize) << false;
    QTest::newRow("two threads, larger") << 30000 << false;
    QTest::newRow("no second thread to be had") << int(LineSort::TwoThreadSize) << true;
}

void TestLineSort::equalLinesKeepTheirOrder() {
    QFETCH(int, count);
    QFETCH(bool, threadFails);
    LineSort sort;
    sort.setBeforeAcquiring([threadFails](SortResource what) {
        if (what == SortResource::Thread && threadFails)
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    // Backwards, so every line moves: the "B" first, then "b", then "a".
    QStringList lines = quartersAndHalf(count);
    std::reverse(lines.begin(), lines.end());
    const Order order = orderOf(lines, sort);
    const auto quarter = quint32(count / 4);
    const auto half = quint32(count / 2);
    // "a" (last in the input) first, then the "b"s and the "B"s as they came: "B" first.
    Order expected;
    for (quint32 i = 0; i < quarter; ++i)
        expected.push_back(quint32(count) - quarter + i);
    for (quint32 i = 0; i < half; ++i)
        expected.push_back(i);
    for (quint32 i = 0; i < quarter; ++i)
        expected.push_back(half + i);
    QVERIFY(order == expected);
    // And in the order the threads split them: "a", "b" in the lower half, "B" the upper.
    const Order inOrder = orderOf(quartersAndHalf(count), sort);
    QVERIFY(isIdentity(inOrder, 0, quint32(count)));
}

void TestLineSort::linesSharingAStartAddress() {
    // One buffer "bac": "b", "", "a", "", "c", where each empty line starts where the next
    // line does. A widened line kept by its address alone reads "" as "a" or "c".
    static const char buffer[] = "bac";
    const QLatin1StringView all(buffer, 3);
    const std::vector<LineText> lines = {all.sliced(0, 1), all.sliced(1, 0), all.sliced(1, 1),
                                         all.sliced(2, 0), all.sliced(2, 1)};
    LineSort sort;
    const Order order =
        sort.order(lines.size(), [&lines](quint32 i) { return lines[i]; }).toVector();
    QVERIFY(order == (Order{1, 3, 2, 0, 4}));
}

void TestLineSort::shortLineBeforeAnUnreadablePage() {
    // A one-byte line that ends where memory stops being readable: widening it must not read
    // past the page.
    const auto page = size_t(::sysconf(_SC_PAGESIZE));
    void* mapped =
        ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    QVERIFY(mapped != MAP_FAILED);
    auto* const bytes = static_cast<char*>(mapped);
    QVERIFY(::mprotect(bytes + page, page, PROT_NONE) == 0);
    const QByteArray accented = QByteArray(20, 'a') + '\xe9'; // 20 "a" and "é" in Latin-1
    char* const line = bytes + page - accented.size();
    std::memcpy(line, accented.constData(), size_t(accented.size()));
    const QCollator collator = makeCorrectOrderCollator();
    CollatedComparison compare(collator);
    const QString other = QString(20, u'a') + u'f';
    const int result = compare(QLatin1StringView(line, accented.size()), other);
    const int reversed = compare(other, QLatin1StringView(line, accented.size()));
    ::munmap(mapped, 2 * page);
    QVERIFY(result < 0);
    QVERIFY(reversed > 0);
}

void TestLineSort::stops_data() {
    QTest::addColumn<int>("count");
    QTest::newRow("one thread") << 10000;
    QTest::newRow("two threads") << int(LineSort::TwoThreadSize);
}

void TestLineSort::stops() {
    QFETCH(int, count);
    QStringList lines;
    for (int i = count; i > 0; --i)
        lines.append(QString::number(i));
    LineSort sort;
    const std::atomic<bool> stop = true;
    sort.setStopFlag(&stop);
    bool stopped = false;
    try {
        orderOf(lines, sort);
    } catch (const ProgramEnding&) {
        stopped = true;
    }
    QVERIFY(stopped);
    QVERIFY(sort.progress() < 1.0);
}

void TestLineSort::failsBeforeSorting_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("failingRequest"); // which request for memory fails
    QTest::newRow("no memory for the order") << 100 << 1;
    QTest::newRow("two threads, no memory for the order") << 25000 << 1;
    QTest::newRow("no memory for the second collator") << 25000 << 2;
}

void TestLineSort::failsBeforeSorting() {
    QFETCH(int, count);
    QFETCH(int, failingRequest);
    QStringList lines;
    for (int i = count; i > 0; --i)
        lines.append(QString::number(i));
    LineSort sort;
    int requests = 0;
    sort.setBeforeAcquiring([&](SortResource what) {
        if (what == SortResource::Memory && ++requests == failingRequest)
            throw std::bad_alloc();
    });
    QVERIFY_THROWS_EXCEPTION(std::bad_alloc, orderOf(lines, sort));
    QCOMPARE(sort.progress(), 0.0);
}

QTEST_GUILESS_MAIN(TestLineSort)
#include "tst_linesort.moc"
