#include "order/lineorder.h"
#include "tests/support/programrun.h"
#include "tests/support/testfiles.h"
#include "tests/support/textreaders.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace varnel;
using namespace varnel::testing;

namespace {

// Pieces lines are made of: cases, accents, digits with and without leading zeros,
// punctuation, a blank, a character beyond U+FFFF, the dotted capital I.
const QStringList Pieces{"a",  "A", "b", "B", "e", "é", "É", "z", "ß", "1", "01",
                         "10", "9", "_", "-", " ", ".", "İ", "i", "😀", "Z"};

// Distinct lines, so that each output line tells which input line it was.
QStringList randomLines(QRandomGenerator& random, int count) {
    QStringList lines;
    QSet<QString> seen;
    while (lines.size() < count) {
        QString line;
        for (int n = int(random.bounded(5)); n > 0; --n)
            line += Pieces[random.bounded(Pieces.size())];
        if (!seen.contains(line)) {
            seen.insert(line);
            lines.append(line);
        }
    }
    return lines;
}

} // namespace

class TestOrderAgreement : public QObject {
    Q_OBJECT
private slots:
    void sortedPassesTheCheck_data();
    void sortedPassesTheCheck();
    void repeatsFound_data();
    void repeatsFound();
    void formatsOverALateEncoding_data();
    void formatsOverALateEncoding();

private:
    QTemporaryDir m_folder;
};

void TestOrderAgreement::sortedPassesTheCheck_data() {
    QTest::addColumn<QStringList>("options");
    for (const char* order : {"code", "locale"})
        for (const bool numeric : {false, true})
            for (const bool unique : {false, true}) {
                QStringList options{QStringLiteral("--order=") + QLatin1String(order)};
                if (numeric)
                    options << QStringLiteral("--numeric");
                if (unique)
                    options << QStringLiteral("--unique");
                QTest::newRow(qPrintable(options.join(u' '))) << options;
            }
}

// Whatever the options, what the sort writes the check passes, a second sort changes
// nothing, and lines the order calls equal keep the order they came in.
void TestOrderAgreement::sortedPassesTheCheck() {
    QFETCH(QStringList, options);
    const LineOrder order{options.first() == u"--order=code" ? LineOrder::Rule::Code
                                                             : LineOrder::Rule::Locale,
                          options.contains(QStringLiteral("--numeric"))};
    const bool unique = options.contains(QStringLiteral("--unique"));
    const QCollator collator = makeCollator(order);
    LineComparison compare(order, collator);
    QRandomGenerator random(20261208);
    for (int round = 0; round < 6; ++round) {
        const QStringList lines = randomLines(random, 60);
        const QByteArray lineBreak = round % 2 ? "\r\n" : "\n";
        writeFile(m_folder.filePath("list.txt"), lines.join(lineBreak).toUtf8() + lineBreak);

        const ProgramRun sorted =
            runVarnel(QStringList{"sort"} + options + QStringList{"list.txt"}, m_folder.path());
        QCOMPARE(sorted.status, 0);
        writeFile(m_folder.filePath("sorted.txt"), sorted.out);
        const ProgramRun checked =
            runVarnel(QStringList{"check"} + options + QStringList{"sorted.txt"}, m_folder.path());
        QCOMPARE(checked.out, QByteArray());
        QCOMPARE(checked.status, 0);
        const ProgramRun again =
            runVarnel(QStringList{"sort"} + options + QStringList{"sorted.txt"}, m_folder.path());
        QCOMPARE(again.out, sorted.out);

        const QStringList out = textFileLines(sorted.out);
        if (!unique)
            QCOMPARE(out.size(), lines.size());
        for (qsizetype i = 1; i < out.size(); ++i) {
            const int order = compare(out[i - 1], out[i]);
            QVERIFY2(order < 0 || (order == 0 && !unique &&
                                   lines.indexOf(out[i - 1]) < lines.indexOf(out[i])),
                     qPrintable(out[i - 1] + u'/' + out[i]));
        }
    }
}

void TestOrderAgreement::repeatsFound_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("check: a repeat in either case")
        << QStringList{"check", "--unique"} << QByteArray("Apple\napple\nb\n") << 1
        << QByteArray("-:1: \"Apple\" repeats on line 2\n");
    QTest::newRow("check: a repeat is no finding without --unique")
        << QStringList{"check"} << QByteArray("Apple\napple\n") << 0 << QByteArray();
    QTest::newRow("check: quiet") << QStringList{"check", "-q"} << QByteArray("b\na\nc\nb\n") << 1
                                  << QByteArray();
    QTest::newRow("check: numeric")
        << QStringList{"check", "--numeric"} << QByteArray("item9\nitem10\nitem2\n") << 1
        << QByteArray("-:2: \"item10\" sorts after \"item2\" on line 3\n");
    QTest::newRow("check: locale order takes the accent beside its letter")
        << QStringList{"check", "--order=locale"} << QByteArray("eagle\nécole\nfoo\n") << 0
        << QByteArray();
    QTest::newRow("check: code order puts it after z")
        << QStringList{"check"} << QByteArray("eagle\nécole\nfoo\n") << 1
        << QByteArray("-:2: \"école\" sorts after \"foo\" on line 3\n");
    QTest::newRow("sort: the first of equal lines stays")
        << QStringList{"sort", "--unique"} << QByteArray("b\nApple\nB\napple\n") << 0
        << QByteArray("Apple\nb\n");
    QTest::newRow("sort: numeric code order, fewer zeros first")
        << QStringList{"sort", "--order=code", "--numeric"} << QByteArray("x10\nx09\nx9\nX1\n") << 0
        << QByteArray("X1\nx9\nx09\nx10\n");
}

void TestOrderAgreement::repeatsFound() {
    QFETCH(QStringList, options);
    QFETCH(QByteArray, input);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    const ProgramRun run = runVarnel(options, m_folder.path(), input);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.out, out);
    QCOMPARE(run.status, status);
}

void TestOrderAgreement::formatsOverALateEncoding_data() {
    QTest::addColumn<QByteArray>("tail"); // after lines that read as UTF-8
    QTest::newRow("stays UTF-8") << QByteArray("\xc3\xa9t\xc3\xa9\n");
    // The findings made while the file read as UTF-8 are taken back and made again.
    QTest::newRow("turns Windows-1252 late") << QByteArray("caf\xe9\n");
}

// A finding taken back when the file turns out to be Windows-1252 leaves every format
// whole: the JSON lines and the SARIF log still parse and count each finding once.
void TestOrderAgreement::formatsOverALateEncoding() {
    QFETCH(QByteArray, tail);
    QByteArray list;
    for (int i = 0; i < 100000; ++i)
        list += "b\xc3\xa9\na\n";
    list += tail;
    writeFile(m_folder.filePath("late.txt"), list);
    const QStringList lines = textFileLines(list);
    qsizetype expected = 0;
    for (qsizetype i = 1; i < lines.size(); ++i)
        expected += compareLowered(lines[i - 1], lines[i]) > 0 ? 1 : 0;

    const ProgramRun json = runVarnel({"check", "--format=json", "late.txt"}, m_folder.path());
    QCOMPARE(json.status, 1);
    const QList<QByteArray> objects = json.out.trimmed().split('\n');
    QCOMPARE(objects.size(), expected);
    QJsonParseError error;
    const QJsonObject first = QJsonDocument::fromJson(objects.first(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(first.value("text").toString(), lines.first());

    const ProgramRun sarif = runVarnel({"check", "--format=sarif", "late.txt"}, m_folder.path());
    QCOMPARE(sarif.status, 1);
    const QJsonObject log = QJsonDocument::fromJson(sarif.out, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonArray results =
        log.value("runs").toArray().first().toObject().value("results").toArray();
    QCOMPARE(results.size(), expected);
}

QTEST_GUILESS_MAIN(TestOrderAgreement)
#include "tst_orderagreement.moc"
