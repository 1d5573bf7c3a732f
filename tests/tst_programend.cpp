#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestProgramEnd : public QObject {
    Q_OBJECT
private slots:
    void closingDuringACommand_data();
    void closingDuringACommand();
};

void TestProgramEnd::closingDuringACommand_data() {
    QTest::addColumn<QString>("command");
    QTest::newRow("extracting") << "extract";
    QTest::newRow("saving over an old file") << "save";
    QTest::newRow("copying to the clipboard") << "copy";
    QTest::newRow("walking a dropped folder") << "drop";
    QTest::newRow("sorting for Show Correct Order") << "order";
}

void TestProgramEnd::closingDuringACommand() {
    QFETCH(QString, command);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QByteArray old = "the old content\r\n";
    {
        QFile saved(folder.filePath(QStringLiteral("saved.txt")));
        QVERIFY(saved.open(QIODevice::WriteOnly));
        saved.write(old);
    }
    QDir tree(folder.filePath(QStringLiteral("tree")));
    for (int i = 0; i < 200; ++i) {
        const QString sub = QStringLiteral("tree/f%1").arg(i, 3, 10, QChar(u'0'));
        QVERIFY(QDir(folder.path()).mkpath(sub));
        QFile(folder.filePath(sub + QStringLiteral("/a.txt"))).open(QIODevice::WriteOnly);
    }

    QProcess probe;
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start(QCoreApplication::applicationDirPath() + QStringLiteral("/varnel_close_probe"),
                {command, folder.path()});
    QVERIFY(probe.waitForStarted());
    QVERIFY2(probe.waitForFinished(60000), "the program did not end after its window closed");
    const QByteArray output = probe.readAll();
    QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
    QVERIFY2(probe.exitCode() == 0, output.constData());
    QVERIFY2(!output.contains("message:"), output.constData());
    // Regression: the sort ran to its end (seconds at ten million lines) before the program
    // could end; now it stops, and its results are never shown.
    if (command == u"order")
        QVERIFY2(output.contains("results: 0\n"), output.constData());

    // Nothing half-written: the old file as it was, and no temporary file beside it.
    QFile saved(folder.filePath(QStringLiteral("saved.txt")));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), old);
    const QStringList files = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(files, QStringList{QStringLiteral("saved.txt")});
}

QTEST_GUILESS_MAIN(TestProgramEnd)
#include "tst_programend.moc"
