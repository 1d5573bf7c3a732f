#include "order/collationkeys.h"
#include "order/lineorder.h"

#include <QCollator>
#include <QRandomGenerator>
#include <QTest>

using namespace varnel;

namespace {

// Pieces that collate closely: case pairs, accents precomposed and combining, letters some
// locales treat apart, digits, blanks and punctuation, and characters beyond U+FFFF.
const QStringList Pieces = {"a",
                            "A",
                            "b",
                            "B",
                            "e",
                            "E",
                            "o",
                            "s",
                            "z",
                            "Z",
                            "1",
                            "2",
                            "0",
                            "10",
                            " ",
                            "-",
                            "_",
                            "'",
                            ".",
                            QStringLiteral("é"),
                            QStringLiteral("É"),
                            QStringLiteral("e\u0301"),
                            QStringLiteral("ö"),
                            QStringLiteral("ø"),
                            QStringLiteral("å"),
                            QStringLiteral("ß"),
                            QStringLiteral("ñ"),
                            QStringLiteral("æ"),
                            QStringLiteral("ı"),
                            QStringLiteral("İ"),
                            QStringLiteral("ω"),
                            QStringLiteral("Ω"),
                            QStringLiteral("\U0001D49C"),
                            QStringLiteral("\U0001F600"),
                            QStringLiteral("\u00A0"),
                            "ch",
                            "aa"};

// Lines from the pieces above, most of them with a shared long beginning so that some
// differ only past the prefix.
QStringList randomLines(int count, quint32 seed) {
    QRandomGenerator random(seed);
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        QString line = random.bounded(3) == 0 ? QStringLiteral("Varnel list entry ") : QString();
        for (int n = random.bounded(7); n > 0; --n)
            line += Pieces[random.bounded(Pieces.size())];
        lines.append(line);
    }
    return lines;
}

int sign(int n) {
    return (n > 0) - (n < 0);
}

} // namespace

class TestCollationKeys : public QObject {
    Q_OBJECT
private slots:
    void prefixesAgreeWithTheCollator_data();
    void prefixesAgreeWithTheCollator();
    void oneByteLinesHaveTheirWideFormsPrefix();
    void utf8ComparesAsTheCollator_data();
    void utf8ComparesAsTheCollator();
};

void TestCollationKeys::prefixesAgreeWithTheCollator_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("numeric");
    for (const char* locale : {"en_US", "sv_SE", "de_DE", "tr_TR", "da_DK", "es_ES"}) {
        QTest::addRow("%s", locale) << QString::fromLatin1(locale) << false;
        QTest::addRow("%s, numeric", locale) << QString::fromLatin1(locale) << true;
    }
}

void TestCollationKeys::prefixesAgreeWithTheCollator() {
    QFETCH(QString, locale);
    QFETCH(bool, numeric);
    qputenv("LC_ALL", locale.toLatin1() + ".UTF-8");
    const QCollator collator = makeCollator({LineOrder::Rule::Locale, numeric});
    qunsetenv("LC_ALL");
    QCOMPARE(collator.locale().name(), locale);
    CollationKeys keys(collator);
    const QStringList lines = randomLines(400, qHash(locale) ^ quint32(numeric));
    std::vector<CollationPrefix> prefixes;
    for (const QString& line : lines)
        prefixes.push_back(keys.prefixOf(line));
    int decided = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        for (qsizetype j = 0; j < lines.size(); ++j) {
            const auto byPrefix = prefixes[size_t(i)] <=> prefixes[size_t(j)];
            if (byPrefix == 0)
                continue;
            ++decided;
            const int byCollator = sign(collator.compare(lines[i], lines[j]));
            if (byCollator != (byPrefix < 0 ? -1 : 1))
                QFAIL(qPrintable(QStringLiteral("\"%1\" and \"%2\": the collator says %3")
                                     .arg(lines[i], lines[j])
                                     .arg(byCollator)));
        }
    }
    // Most pairs are told apart by their prefixes, or the prefixes would be worth nothing.
    QVERIFY2(decided > lines.size() * lines.size() / 2, qPrintable(QString::number(decided)));
}

void TestCollationKeys::oneByteLinesHaveTheirWideFormsPrefix() {
    const QCollator collator = makeCollator({});
    CollationKeys keys(collator);
    for (const QString& line : randomLines(300, 7)) {
        if (!fitsLatin1(line))
            continue;
        const QByteArray narrow = line.toLatin1();
        QCOMPARE(keys.prefixOf(QLatin1StringView(narrow)) == keys.prefixOf(line), true);
    }
}

void TestCollationKeys::utf8ComparesAsTheCollator_data() {
    prefixesAgreeWithTheCollator_data();
}

void TestCollationKeys::utf8ComparesAsTheCollator() {
    QFETCH(QString, locale);
    QFETCH(bool, numeric);
    qputenv("LC_ALL", locale.toLatin1() + ".UTF-8");
    const QCollator collator = makeCollator({LineOrder::Rule::Locale, numeric});
    qunsetenv("LC_ALL");
    const CollationKeys keys(collator);
    QVERIFY(keys.collates());
    QStringList lines = randomLines(200, qHash(locale) + 1);
    lines << QString() << QStringLiteral("\u0001");
    QList<QByteArray> encoded;
    for (const QString& line : lines)
        encoded.append(line.toUtf8());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        for (qsizetype j = 0; j < lines.size(); ++j) {
            const int byCollator = sign(collator.compare(lines[i], lines[j]));
            if (keys.compareUtf8(encoded[i], encoded[j]) != byCollator)
                QFAIL(qPrintable(QStringLiteral("\"%1\" and \"%2\": the collator says %3")
                                     .arg(lines[i], lines[j])
                                     .arg(byCollator)));
        }
    }
}

QTEST_GUILESS_MAIN(TestCollationKeys)
#include "tst_collationkeys.moc"
