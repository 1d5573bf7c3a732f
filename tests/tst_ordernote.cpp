#include "commands/ordernote.h"

#include <QTest>

using namespace varnel;

class TestOrderNote : public QObject {
    Q_OBJECT
private slots:
    void note_data();
    void note();
};

void TestOrderNote::note_data() {
    QTest::addColumn<QString>("upper");
    QTest::addColumn<QString>("lower");
    QTest::addColumn<QString>("note");
    const auto row = [](const char* name, const char* upper, const char* lower, const char* note) {
        QTest::newRow(name) << QString::fromUtf8(upper) << QString::fromUtf8(lower)
                            << QString::fromUtf8(note);
    };
    row("accent after z by code", "é first", "f second",
        "é sorts after f by code; Show Correct Order puts it with e");
    row("capital accent, lower-cased", "Éa", "fa",
        "é sorts after f by code; Show Correct Order puts it with e");
    row("after the common start", "caféx", "cafz",
        "é sorts after z by code; Show Correct Order puts it with e");
    row("no base letter", "ß", "t", "ß sorts after t by code; Show Correct Order puts it before t");
    row("both orders agree", "b", "a", "");
    row("in order by code", "a", "b", "");
    row("equal but for case", "A", "a", "");
    row("accent before its base letter's successor, in order", "e", "é", "");
}

void TestOrderNote::note() {
    QFETCH(QString, upper);
    QFETCH(QString, lower);
    QFETCH(QString, note);
    QCOMPARE(codeOrderNote(upper, lower), note);
}

QTEST_GUILESS_MAIN(TestOrderNote)
#include "tst_ordernote.moc"
