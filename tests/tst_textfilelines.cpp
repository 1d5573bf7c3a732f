#include "core/failure.h"
#include "lists/cleanpathslashes.h"
#include "lists/fileexists.h"
#include "lists/textfilelines.h"
#include "support/testfiles.h"
#include "support/textfilecases.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace varnel;
using varnel::testing::writeFile;

class TestTextFileLines : public QObject {
    Q_OBJECT
private slots:
    void lineRule_data();
    void lineRule();
    void encodings_data();
    void encodings();
    void cleanPathSlashes_data();
    void cleanPathSlashes();
    void fileExists_data();
    void fileExists();
    void reading_data();
    void reading();
};

void TestTextFileLines::lineRule_data() {
    testing::lineRuleRows();
}

void TestTextFileLines::lineRule() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QCOMPARE(textFileLines(bytes), lines);
    QByteArray wide("\xFF\xFE"); // the same rule over UTF-16
    for (char c : bytes)
        wide.append(c).append('\0');
    QCOMPARE(textFileLines(wide), lines);
}

void TestTextFileLines::encodings_data() {
    testing::encodingRows();
}

void TestTextFileLines::encodings() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QCOMPARE(textFileLines(bytes), lines);
}

void TestTextFileLines::cleanPathSlashes_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("cleaned");
    const auto row = [](const char* name, const char* path, const char* separator,
                        const char* cleaned) {
        QTest::newRow(name) << QString::fromLatin1(path) << QString::fromLatin1(separator)
                            << QString::fromLatin1(cleaned);
    };
    row("drive root", R"(C:\\a.txt)", R"(\)", R"(C:\a.txt)");
    row("clean path", R"(D:\lists\a.txt)", R"(\)", R"(D:\lists\a.txt)");
    row("network path", R"(\\server\share\\a.txt)", R"(\)", R"(\\server\share\a.txt)");
    row("three become two", R"(a\\\b)", R"(\)", R"(a\\b)");
    row("four become two", R"(a\\\\b)", R"(\)", R"(a\\b)");
    row("leading run becomes two", R"(\\\\a)", R"(\)", R"(\\a)");
    row("slash path", "/home/me//a.txt", "/", "/home/me/a.txt");
    row("leading slashes become one", "///home//a.txt", "/", "/home/a.txt");
    row("only slashes", "//", "/", "/");
}

void TestTextFileLines::cleanPathSlashes() {
    QFETCH(QString, path);
    QFETCH(QString, separator);
    QFETCH(QString, cleaned);
    QCOMPARE(varnel::cleanPathSlashes(path, separator.at(0)), cleaned);
}

void TestTextFileLines::fileExists_data() {
    QTest::addColumn<QString>("name"); // in a folder holding "a.txt", "sub" and "dangling"
    QTest::addColumn<bool>("exists");
    QTest::newRow("file") << "a.txt" << true;
    QTest::newRow("folder") << "sub" << true;
    QTest::newRow("missing") << "b.txt" << false;
    QTest::newRow("dangling link") << "dangling" << false;
}

void TestTextFileLines::fileExists() {
    QFETCH(QString, name);
    QFETCH(bool, exists);
    QTemporaryDir folder;
    writeFile(folder.filePath("a.txt"), "x");
    QVERIFY(QDir(folder.path()).mkdir("sub"));
    QVERIFY(QFile::link(folder.filePath("gone"), folder.filePath("dangling")));
    QCOMPARE(varnel::fileExists(folder.filePath(name)), exists);
}

void TestTextFileLines::reading_data() {
    QTest::addColumn<QString>("path"); // "@": a temporary folder holding list.txt
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<QString>("failure");
    const qint64 plenty = 1 << 20;
    QTest::newRow("fits") << "@/list.txt" << QByteArray(1000, 'x') << plenty << QString();
    // The text alone takes two bytes a character, each line twenty bytes more.
    QTest::newRow("text beyond memory")
        << "@/list.txt" << QByteArray(1000, 'x') << qint64(1999) << "Out of memory";
    QTest::newRow("lines beyond memory")
        << "@/list.txt" << QByteArray(1000, '\n') << qint64(20000) << "Out of memory";
    QTest::newRow("missing file") << "@/missing.txt" << QByteArray() << plenty << "File not found";
    QTest::newRow("folder") << "@" << QByteArray() << plenty << "Path/File access error";
    QTest::newRow("read error") << "/proc/self/mem" << QByteArray() << plenty << "Device I/O error";
    // Neither may hang the window: a pipe waits for a writer, a device never ends.
    QTest::newRow("named pipe") << "@/pipe" << QByteArray() << plenty << "Path/File access error";
    QTest::newRow("endless device")
        << "/dev/zero" << QByteArray() << plenty << "Path/File access error";
}

void TestTextFileLines::reading() {
    QFETCH(QString, path);
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, budget);
    QFETCH(QString, failure);
    QTemporaryDir folder;
    writeFile(folder.filePath("list.txt"), bytes);
    QVERIFY(::mkfifo(QFile::encodeName(folder.filePath("pipe")).constData(), 0600) == 0);
    QStringList lines;
    QString failed;
    try {
        lines = readTextFileLines(path.replace(u'@', folder.path()), budget);
    } catch (const Failure& f) {
        failed = f.description();
    }
    QCOMPARE(failed, failure);
    QCOMPARE(lines, failure.isEmpty() ? textFileLines(bytes) : QStringList());
}

QTEST_GUILESS_MAIN(TestTextFileLines)
#include "tst_textfilelines.moc"
