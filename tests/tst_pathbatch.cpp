#include "commands/pathbatch.h"
#include "lists/linelistmodel.h"

#include <QTest>

using namespace varnel;

class TestPathBatch : public QObject {
    Q_OBJECT
private slots:
    void handOver_data();
    void handOver();
};

void TestPathBatch::handOver_data() {
    // Steps: "n:prefix|name" appends one byte a character, "w:path" appends a string, "|"
    // hands the batch to the list.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QList<bool>>("wide"); // each line's form in the list

    QTest::newRow("paths of one byte a character stay so")
        << QStringList{"n:/d/|a", "n:/d/|bb", "|"} << QStringList{"/d/a", "/d/bb"}
        << QList<bool>{false, false};
    QTest::newRow("a Latin-1 path as a string stays one byte a character")
        << QStringList{"n:/d/|a", QStringLiteral("w:/d/caf\u00e9"), "|"}
        << QStringList{"/d/a", QStringLiteral("/d/caf\u00e9")} << QList<bool>{false, false};
    QTest::newRow("a wider path part way keeps the paths before it")
        << QStringList{"n:/d/|a", QStringLiteral("w:/d/\u65e5"), "n:/e/|b", "|"}
        << QStringList{"/d/a", QStringLiteral("/d/\u65e5"), "/e/b"}
        << QList<bool>{true, true, true};
    QTest::newRow("a wider path first")
        << QStringList{QStringLiteral("w:/\u65e5"), "n:/e/|b", "|"}
        << QStringList{QStringLiteral("/\u65e5"), "/e/b"} << QList<bool>{true, true};
    QTest::newRow("each hand-over starts afresh")
        << QStringList{"n:/d/|a", "|", "n:/e/|b", "|", "|"} << QStringList{"/d/a", "/e/b"}
        << QList<bool>{false, false};
    QTest::newRow("after a wider batch, one byte a character again")
        << QStringList{QStringLiteral("w:/\u65e5"), "|", "n:/e/|b", "|"}
        << QStringList{QStringLiteral("/\u65e5"), "/e/b"} << QList<bool>{true, false};
    QTest::newRow("nothing to hand over adds nothing")
        << QStringList{"|"} << QStringList{} << QList<bool>{};
    QTest::newRow("an empty name") << QStringList{"n:/d/|", "n:|x", "|"} << QStringList{"/d/", "x"}
                                   << QList<bool>{false, false};

    // More than the batch's first room, so it grows while holding paths.
    QStringList steps;
    QStringList lines;
    for (int i = 0; i < 5000; ++i) {
        const QString name = QStringLiteral("file-%1.txt").arg(i, 5, 10, QLatin1Char('0'));
        steps.append(QStringLiteral("n:/some/folder/|") + name);
        lines.append(QStringLiteral("/some/folder/") + name);
    }
    QTest::newRow("a batch that outgrows its first room")
        << (steps << "|") << lines << QList<bool>(lines.size(), false);
}

void TestPathBatch::handOver() {
    QFETCH(QStringList, steps);
    QFETCH(QStringList, lines);
    QFETCH(QList<bool>, wide);
    LineListModel list;
    PathBatch batch;
    for (const QString& step : std::as_const(steps)) {
        if (step == u"|") {
            batch.handTo(list);
            QVERIFY(batch.isEmpty());
        } else if (step.startsWith(u"n:")) {
            const QStringList parts = step.mid(2).split(u'|');
            batch.appendLatin1(parts.at(0).toLatin1(), parts.at(1).toLatin1());
        } else {
            batch.append(step.mid(2));
        }
    }
    QStringList listed;
    QList<bool> forms;
    for (qsizetype i = 1; i <= list.count(); ++i) {
        listed.append(list.text(i));
        forms.append(list.textView(i).isWide());
    }
    QCOMPARE(listed, lines);
    QCOMPARE(forms, wide);
}

QTEST_GUILESS_MAIN(TestPathBatch)
#include "tst_pathbatch.moc"
