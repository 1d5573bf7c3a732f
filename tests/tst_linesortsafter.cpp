#include "extract/collation.h"
#include "extract/linesortsafter.h"

#include <QTest>

using varnel::lineSortsAfter;

class TestLineSortsAfter : public QObject {
    Q_OBJECT
private slots:
    void pairs_data();
    void pairs();
    void neverBothWays_data() { pairs_data(); }
    void neverBothWays();
    void collationLocale_data();
    void collationLocale();
};

void TestLineSortsAfter::pairs_data() {
    QTest::addColumn<QString>("upper");
    QTest::addColumn<QString>("lower");
    QTest::addColumn<bool>("sortsAfter");

    QTest::newRow("b above a") << "b"
                               << "a" << true;
    QTest::newRow("a above b") << "a"
                               << "b" << false;
    QTest::newRow("identical") << "apple"
                               << "apple" << false;
    QTest::newRow("case only differs") << "Apple"
                                       << "APPLE" << false;
    QTest::newRow("capital does not come first") << "Zebra"
                                                 << "apple" << true;
    QTest::newRow("lower before capital") << "apple"
                                          << "Zebra" << false;
    QTest::newRow("no numeric order") << "item9"
                                      << "item10" << true;
    QTest::newRow("blank before letters") << "ab"
                                          << "a b" << true;
    QTest::newRow("prefix first") << "abc"
                                  << "ab" << true;
    QTest::newRow("prefix above longer") << "ab"
                                         << "abc" << false;
    QTest::newRow("underscore before letters") << "a"
                                               << "_x" << true;
    QTest::newRow("bracket before lowered capital") << "A"
                                                    << "[" << true;
    QTest::newRow("accent after z") << QStringLiteral("é") << "f" << true;
    QTest::newRow("capital accent lowers") << QStringLiteral("É") << QStringLiteral("é") << false;
    QTest::newRow("leading blank first") << " z"
                                         << "a" << false;
    QTest::newRow("empty before anything") << ""
                                           << "a" << false;
    QTest::newRow("anything after empty") << "a"
                                          << "" << true;
    QTest::newRow("both empty") << ""
                                << "" << false;
    QTest::newRow("greek capital lowers") << QStringLiteral("Ω") << QStringLiteral("ω") << false;
    QTest::newRow("cyrillic order") << QStringLiteral("Я") << QStringLiteral("а") << true;
    // Deseret capital long I (U+10400) lowers to U+10428 through its surrogate pair.
    QTest::newRow("supplementary capital lowers")
        << QString::fromUcs4(U"\U00010400") << QString::fromUcs4(U"\U00010428") << false;
    QTest::newRow("supplementary after BMP letters")
        << QString::fromUcs4(U"\U00010428") << QStringLiteral("ω") << true;
    QTest::newRow("lone surrogate compares raw") << QString(QChar(0xD800)) << "z" << true;
    QTest::newRow("tab before blank") << "a\tb"
                                      << "a b" << false;
    // Lines past eight units are compared eight at a time while they stay ASCII.
    QTest::newRow("long, case only") << "ANAN ANFAXA 42"
                                     << "anan anfaxa 42" << false;
    QTest::newRow("long, bracket before lowered capital") << "Anan AnfaZ 42 9224"
                                                          << "anan anfa[ 42 9224" << true;
    QTest::newRow("long, at sign before lowered capital") << "ANAN ANF@ 42 9224"
                                                          << "anan anfa 42 9224" << false;
    QTest::newRow("long, accent past eight")
        << QStringLiteral("ANAN ANFé 42 9224") << "anan anfz 42 9224" << true;
}

void TestLineSortsAfter::pairs() {
    QFETCH(QString, upper);
    QFETCH(QString, lower);
    QFETCH(bool, sortsAfter);
    QCOMPARE(lineSortsAfter(upper, lower), sortsAfter);
}

void TestLineSortsAfter::neverBothWays() {
    QFETCH(QString, upper);
    QFETCH(QString, lower);
    QVERIFY(!(lineSortsAfter(upper, lower) && lineSortsAfter(lower, upper)));
    QVERIFY(!lineSortsAfter(upper, upper));
}

void TestLineSortsAfter::collationLocale_data() {
    QTest::addColumn<QStringList>("environment"); // LC_ALL, LC_COLLATE, LANG
    QTest::addColumn<QString>("locale");
    // Regression: the order followed the language of messages (LC_MESSAGES, LANGUAGE).
    QTest::newRow("LC_COLLATE over LANG")
        << QStringList{"", "sv_SE.UTF-8", "en_US.UTF-8"} << "sv_SE";
    QTest::newRow("LC_ALL over both")
        << QStringList{"de_DE.UTF-8", "sv_SE.UTF-8", "en_US"} << "de_DE";
    QTest::newRow("LANG alone") << QStringList{"", "", "fr_FR.UTF-8"} << "fr_FR";
    QTest::newRow("modifier left out") << QStringList{"", "", "sv_SE.UTF-8@euro"} << "sv_SE";
    QTest::newRow("script modifier kept")
        << QStringList{"", "", "sr_RS.UTF-8@latin"} << "sr_Latn_RS";
    QTest::newRow("C collation is English") << QStringList{"", "C", "sv_SE.UTF-8"} << "en_US";
    QTest::newRow("C.UTF-8 is English") << QStringList{"C.UTF-8", "", ""} << "en_US";
    QTest::newRow("POSIX is English") << QStringList{"", "", "POSIX"} << "en_US";
    QTest::newRow("nothing set is English") << QStringList{"", "", ""} << "en_US";
}

void TestLineSortsAfter::collationLocale() {
    QFETCH(QStringList, environment);
    QFETCH(QString, locale);
    QCOMPARE(varnel::collationLocale(environment[0], environment[1], environment[2]),
             QLocale(locale));
}

QTEST_APPLESS_MAIN(TestLineSortsAfter)
#include "tst_linesortsafter.moc"
