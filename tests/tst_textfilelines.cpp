#include "app/failure.h"
#include "lists/cleanpathslashes.h"
#include "lists/fileexists.h"
#include "lists/textfilelines.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace varnel;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QString failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Failure& failure) {
        return failure.description();
    }
    return {};
}

} // namespace

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
    void readingFailures_data();
    void readingFailures();
    void memoryBudget_data();
    void memoryBudget();
};

void TestTextFileLines::lineRule_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("CR LF after each line")
        << QByteArray("alpha\r\nbeta\r\n") << QStringList{"alpha", "beta"};
    QTest::newRow("CR LF without the final break")
        << QByteArray("alpha\r\nbeta") << QStringList{"alpha", "beta"};
    QTest::newRow("LF alone keeps an empty last line")
        << QByteArray("alpha\nbeta\n") << QStringList{"alpha", "beta", ""};
    QTest::newRow("LF alone without the final break")
        << QByteArray("alpha\nbeta") << QStringList{"alpha", "beta"};
    QTest::newRow("CR alone") << QByteArray("alpha\rbeta\r") << QStringList{"alpha", "beta"};
    QTest::newRow("blank line in the middle")
        << QByteArray("alpha\r\n\r\nbeta") << QStringList{"alpha", "", "beta"};
    QTest::newRow("only LF") << QByteArray("\n") << QStringList{"", ""};
    QTest::newRow("only CR LF") << QByteArray("\r\n") << QStringList{""};
    QTest::newRow("LF then CR LF")
        << QByteArray("alpha\n\r\nbeta") << QStringList{"alpha", "", "beta"};
    QTest::newRow("two CR make an empty record")
        << QByteArray("a\r\rb") << QStringList{"a", "", "b"};
    QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
    QTest::newRow("blanks and tabs stay")
        << QByteArray("  a \t\r\n\tb  ") << QStringList{"  a \t", "\tb  "};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("NUL is a character")
        << QByteArray("a\0b", 3) << QStringList{QString::fromUtf16(u"a\0b", 3)};
}

void TestTextFileLines::lineRule() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QCOMPARE(textFileLines(bytes), lines);
    // The same rule holds for a file in UTF-16.
    QByteArray wide("\xFF\xFE");
    for (char c : bytes)
        wide.append(c).append('\0');
    QCOMPARE(textFileLines(wide), lines);
}

void TestTextFileLines::encodings_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");

    const QString cafe = QStringLiteral("caf\u00e9");
    QTest::newRow("UTF-8") << QByteArray("caf\xC3\xA9\r\n\xE2\x82\xAC 5")
                           << QStringList{cafe, QStringLiteral("\u20ac 5")};
    QTest::newRow("UTF-8 with mark") << QByteArray("\xEF\xBB\xBF"
                                                   "apple\r\npear")
                                     << QStringList{"apple", "pear"};
    QTest::newRow("a mark inside stays") << QByteArray("a\r\n\xEF\xBB\xBF"
                                                       "b")
                                         << QStringList{"a", QStringLiteral("\ufeffb")};
    QTest::newRow("Windows-1252") << QByteArray("caf\xE9\r\n\x93quoted\x94 \x80 5")
                                  << QStringList{cafe,
                                                 QStringLiteral("\u201cquoted\u201d \u20ac 5")};
    QTest::newRow("unassigned 1252 bytes") << QByteArray("\x81\x8D\x8F\x90\x9D\xFF")
                                           << QStringList{QStringLiteral("\u0081\u008d\u008f\u0090"
                                                                         "\u009d\u00ff")};
    QTest::newRow("invalid UTF-8 is read as 1252")
        << QByteArray("\xC3\xA9\r\n\xC3(")
        << QStringList{QStringLiteral("\u00c3\u00a9"), QStringLiteral("\u00c3(")};
    QTest::newRow("UTF-8 cut off at the end is 1252")
        << QByteArray("ab\xE2\x82") << QStringList{QStringLiteral("ab\u00e2\u201a")};
    QTest::newRow("encoded surrogate is not UTF-8")
        << QByteArray("\xED\xA0\x80") << QStringList{QStringLiteral("\u00ed\u00a0\u20ac")};
    QTest::newRow("UTF-16 LE with mark")
        << QByteArray("\xFF\xFE"
                      "a\0\xE9\0\r\0\n\0\xAC\x20",
                      12)
        << QStringList{QStringLiteral("a\u00e9"), QStringLiteral("\u20ac")};
    QTest::newRow("UTF-16 BE with mark")
        << QByteArray("\xFE\xFF\0a\0\xE9\0\r\0\n\x20\xAC", 12)
        << QStringList{QStringLiteral("a\u00e9"), QStringLiteral("\u20ac")};
    QTest::newRow("UTF-16 surrogate pair")
        << QByteArray("\xFF\xFE\x3D\xD8\x00\xDE", 6) << QStringList{QStringLiteral("\U0001F600")};
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

    QTest::newRow("drive root doubled") << R"(C:\\a.txt)"
                                        << R"(\)"
                                        << R"(C:\a.txt)";
    QTest::newRow("clean path unchanged") << R"(D:\lists\a.txt)"
                                          << R"(\)"
                                          << R"(D:\lists\a.txt)";
    QTest::newRow("network path keeps two") << R"(\\server\share\\a.txt)"
                                            << R"(\)"
                                            << R"(\\server\share\a.txt)";
    QTest::newRow("three become two") << R"(a\\\b)"
                                      << R"(\)"
                                      << R"(a\\b)";
    QTest::newRow("four become two") << R"(a\\\\b)"
                                     << R"(\)"
                                     << R"(a\\b)";
    QTest::newRow("one leading backslash becomes two") << R"(\a)"
                                                       << R"(\)"
                                                       << R"(\\a)";
    QTest::newRow("long leading run becomes two") << R"(\\\\\a\\b)"
                                                  << R"(\)"
                                                  << R"(\\a\b)";
    QTest::newRow("only backslashes") << R"(\\\)"
                                      << R"(\)"
                                      << R"(\\)";
    QTest::newRow("slash folder and name") << "/home/me//a.txt"
                                           << "/"
                                           << "/home/me/a.txt";
    QTest::newRow("leading slashes become one") << "///home//a.txt"
                                                << "/"
                                                << "/home/a.txt";
    QTest::newRow("root joined with a name") << "//a.txt"
                                             << "/"
                                             << "/a.txt";
    QTest::newRow("only slashes") << "////"
                                  << "/"
                                  << "/";
    QTest::newRow("three slashes become two") << "a///b"
                                              << "/"
                                              << "a//b";
    QTest::newRow("backslash is a character on slash paths") << R"(/a\\b)"
                                                             << "/"
                                                             << R"(/a\\b)";
    QTest::newRow("empty") << ""
                           << "/"
                           << "";
}

void TestTextFileLines::cleanPathSlashes() {
    QFETCH(QString, path);
    QFETCH(QString, separator);
    QFETCH(QString, cleaned);
    QCOMPARE(CleanPathSlashes(path, separator.at(0)), cleaned);
}

void TestTextFileLines::fileExists_data() {
    QTest::addColumn<QString>("name"); // inside a temporary folder holding "a.txt" and "sub"
    QTest::addColumn<bool>("exists");
    QTest::newRow("file") << "a.txt" << true;
    QTest::newRow("folder") << "sub" << true;
    QTest::newRow("missing") << "b.txt" << false;
    QTest::newRow("inside a missing folder") << "none/a.txt" << false;
    QTest::newRow("dangling link") << "dangling" << false;
}

void TestTextFileLines::fileExists() {
    QFETCH(QString, name);
    QFETCH(bool, exists);
    QTemporaryDir folder;
    writeFile(folder.filePath(QStringLiteral("a.txt")), "x");
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("sub")));
    QVERIFY(QFile::link(folder.filePath(QStringLiteral("gone")),
                        folder.filePath(QStringLiteral("dangling"))));
    QCOMPARE(FileExists(folder.filePath(name)), exists);
    QVERIFY(!FileExists(QString()));
}

void TestTextFileLines::readingFailures_data() {
    QTest::addColumn<QString>("path"); // "@" stands for a temporary folder
    QTest::addColumn<QString>("failure");
    QTest::newRow("missing file") << "@/missing.txt"
                                  << "File not found";
    QTest::newRow("folder") << "@"
                            << "Path/File access error";
    QTest::newRow("read error") << "/proc/self/mem"
                                << "Device I/O error";
}

void TestTextFileLines::readingFailures() {
    QFETCH(QString, path);
    QFETCH(QString, failure);
    QTemporaryDir folder;
    path.replace(u'@', folder.path());
    QCOMPARE(failureOf([&] { readTextFileLines(path); }), failure);
}

void TestTextFileLines::memoryBudget_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<bool>("fits");
    const QByteArray text(1000, 'x');
    const QByteArray breaks(1000, '\n');
    // The text alone takes two bytes a character; each line at least a string's own size.
    QTest::newRow("text within the budget") << text << qint64(100000) << true;
    QTest::newRow("text beyond the budget") << text << qint64(1999) << false;
    QTest::newRow("line table beyond the budget")
        << breaks << qint64(1001 * sizeof(QString) - 1) << false;
    QTest::newRow("line table within the budget") << breaks << qint64(1000000) << true;
}

void TestTextFileLines::memoryBudget() {
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, budget);
    QFETCH(bool, fits);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("list.txt"));
    writeFile(path, bytes);
    QStringList lines;
    const QString failure = failureOf([&] { lines = readTextFileLines(path, budget); });
    QCOMPARE(failure, fits ? QString() : QStringLiteral("Out of memory"));
    QCOMPARE(lines, fits ? textFileLines(bytes) : QStringList());
}

QTEST_GUILESS_MAIN(TestTextFileLines)
#include "tst_textfilelines.moc"
