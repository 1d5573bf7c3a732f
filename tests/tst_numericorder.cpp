#include "order/linesortsafter.h"
#include "order/numericorder.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

using namespace varnel;

namespace {

// Both lines in each form they fit, and every pairing of forms.
QList<std::pair<LineText, LineText>> forms(const QString& a, const QString& b, QByteArray& na,
                                           QByteArray& nb) {
    QList<std::pair<LineText, LineText>> pairs{{LineText(a), LineText(b)}};
    const bool aNarrow = fitsLatin1(a);
    const bool bNarrow = fitsLatin1(b);
    na = a.toLatin1();
    nb = b.toLatin1();
    if (aNarrow && bNarrow)
        pairs.append({QLatin1StringView(na), QLatin1StringView(nb)});
    if (aNarrow)
        pairs.append({QLatin1StringView(na), LineText(b)});
    if (bNarrow)
        pairs.append({LineText(a), QLatin1StringView(nb)});
    return pairs;
}

int sign(int v) {
    return (v > 0) - (v < 0);
}

} // namespace

class TestNumericOrder : public QObject {
    Q_OBJECT
private slots:
    void pairs_data();
    void pairs();
    void withoutDigitsAsThePairTest();
    void aTotalOrder();
};

void TestNumericOrder::pairs_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("order");
    QTest::newRow("nine before ten") << "item9"
                                     << "item10" << -1;
    QTest::newRow("by value, not by length of text") << "a100b"
                                                     << "a99c" << 1;
    QTest::newRow("equal values, fewer zeros first") << "A1"
                                                     << "a01" << -1;
    QTest::newRow("zeros decide only after the value") << "a01x"
                                                       << "a1y" << 1;
    QTest::newRow("zero alone") << "0"
                                << "00" << -1;
    QTest::newRow("same number, same zeros") << "x007"
                                             << "X007" << 0;
    QTest::newRow("later number decides") << "v1.2.10"
                                          << "v1.2.9" << 1;
    QTest::newRow("number before a letter") << "a5"
                                            << "ab" << -1;
    QTest::newRow("number after a space") << "a5"
                                          << "a b" << 1;
    QTest::newRow("number after the end") << "file"
                                          << "file2" << -1;
    QTest::newRow("longer run is larger") << "x12345678901234567890"
                                          << "x9" << 1;
    QTest::newRow("case ignored around numbers") << "Track2"
                                                 << "track10" << -1;
    QTest::newRow("other digits are characters") << "a\u0662"
                                                 << "a3" << 1;
    QTest::newRow("pair after number") << "a1\U0001F600"
                                       << "a1b" << 1;
    QTest::newRow("capital I with dot") << "\u0130tem9"
                                        << "item10" << -1;
}

void TestNumericOrder::pairs() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(int, order);
    QByteArray na;
    QByteArray nb;
    for (const auto& [a, b] : forms(first, second, na, nb)) {
        QCOMPARE(sign(compareLoweredNumeric(a, b)), order);
        QCOMPARE(sign(compareLoweredNumeric(b, a)), -order);
    }
}

// Where no line holds a digit, the order is the pair test's.
void TestNumericOrder::withoutDigitsAsThePairTest() {
    const QString alphabet = QStringLiteral("aAbB_ -éÉßz\u0130\u00ff\U0001F600");
    auto* random = QRandomGenerator::global();
    const auto line = [&] {
        QString s;
        for (int n = int(random->bounded(6)); n > 0; --n)
            s += alphabet.mid(random->bounded(alphabet.size()), 1);
        return s;
    };
    for (int k = 0; k < 5000; ++k) {
        const QString a = line();
        const QString b = line();
        QCOMPARE(sign(compareLoweredNumeric(a, b)), sign(compareLowered(a, b)));
    }
}

// A sort needs a total order: after sorting by it, every line is at most the next, and
// every one of them is at most every later one.
void TestNumericOrder::aTotalOrder() {
    const QStringList parts{"0", "00", "1", "01", "9", "10", "x", "X", "-", "é", "a", ""};
    auto* random = QRandomGenerator::global();
    QStringList lines;
    for (int k = 0; k < 300; ++k) {
        QString s;
        for (int n = int(random->bounded(4)); n >= 0; --n)
            s += parts[random->bounded(parts.size())];
        lines.append(s);
    }
    std::sort(lines.begin(), lines.end(),
              [](const QString& a, const QString& b) { return compareLoweredNumeric(a, b) < 0; });
    for (qsizetype i = 0; i < lines.size(); ++i)
        for (qsizetype j = i + 1; j < lines.size(); ++j)
            QVERIFY2(compareLoweredNumeric(lines[i], lines[j]) <= 0,
                     qPrintable(lines[i] + " / " + lines[j]));
}

QTEST_GUILESS_MAIN(TestNumericOrder)
#include "tst_numericorder.moc"
