#include "tests/support/programrun.h"
#include "tests/support/testfiles.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace varnel::testing;

namespace {

using Files = QList<std::pair<QString, QByteArray>>;

QByteArray utf16(const QString& text, bool bigEndian) {
    QByteArray bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        bytes += char(bigEndian ? u >> 8 : u & 0xFF);
        bytes += char(bigEndian ? u & 0xFF : u >> 8);
    }
    return bytes;
}

} // namespace

// "varnel sort" moves lines and leaves their bytes alone: the real program on real files.
class TestSortBytes : public QObject {
    Q_OBJECT
private slots:
    void keepsBytes_data();
    void keepsBytes();
};

void TestSortBytes::keepsBytes_data() {
    QTest::addColumn<Files>("files");
    QTest::addColumn<bool>("inPlace"); // -o onto the first file rather than standard output
    QTest::addColumn<QByteArray>("sorted");

    // One byte that is no UTF-8 makes the file Windows-1252: "café" compares as "cafÃ©" but
    // is written back as it came.
    QTest::newRow("Windows-1252 by one stray byte")
        << Files{{"a.txt", "caf\xc3\xa9\nna\xefve\nabc\n"}} << false
        << QByteArray("abc\ncaf\xc3\xa9\nna\xefve\n");
    // 0x8A is "Š" in Windows-1252, a control character in Latin-1.
    QTest::newRow("Windows-1252 beyond Latin-1")
        << Files{{"a.txt", "t\n\x8az\nsb\n"}} << false << QByteArray("sb\n\x8az\nt\n");
    QTest::newRow("UTF-8 letters compared decoded") << Files{{"a.txt", "f\n\xc3\x89"
                                                                       "cole\ne\n"}}
                                                    << false
                                                    << QByteArray("e\n\xc3\x89"
                                                                  "cole\nf\n");
    QTest::newRow("UTF-8 mark written once, first")
        << Files{{"a.txt", "\xEF\xBB\xBFpear\nApple\n"}} << false
        << QByteArray("\xEF\xBB\xBF"
                      "Apple\npear\n");
    QTest::newRow("UTF-16 little-endian")
        << Files{{"a.txt", utf16(QStringLiteral("pear\r\nApple\r\n\u00e9t\u00e9\r\n"), false)}}
        << false << utf16(QStringLiteral("Apple\r\n\u00e9t\u00e9\r\npear\r\n"), false);
    QTest::newRow("UTF-16 big-endian, in place")
        << Files{{"a.txt", utf16(QStringLiteral("pear\nApple\n"), true)}} << true
        << utf16(QStringLiteral("Apple\npear\n"), true);
    QTest::newRow("the last line gets the first line's break")
        << Files{{"a.txt", "b\r\nc\na"}} << false << QByteArray("a\r\nb\r\nc\r\n");
    QTest::newRow("ASCII agrees with Windows-1252")
        << Files{{"a.txt", "zeta\r\n"}, {"b.txt", "\xe9t\xe9\n"}} << false
        << QByteArray("\xe9t\xe9\r\nzeta\r\n");
    QTest::newRow("ASCII agrees with a marked file, which gives the mark")
        << Files{{"a.txt", "zeta\n"},
                 {"b.txt", "\xEF\xBB\xBF"
                           "alpha\n"}}
        << false
        << QByteArray("\xEF\xBB\xBF"
                      "alpha\nzeta\n");
    QTest::newRow("ASCII agrees with UTF-16, written as UTF-16")
        << Files{{"a.txt", "zeta\n"}, {"b.txt", utf16(QStringLiteral("Apple\n"), false)}} << false
        << utf16(QStringLiteral("Apple\nzeta\n"), false);
    QTest::newRow("different encodings make UTF-8 with LF")
        << Files{{"a.txt", utf16(QStringLiteral("b\r\n"), false)}, {"b.txt", "\xe9\nc\n"}} << false
        << QByteArray("b\nc\n\xc3\xa9\n");
    QTest::newRow("UTF-8 and Windows-1252 make UTF-8")
        << Files{{"a.txt", "\xc3\xa9t\xc3\xa9\n"}, {"b.txt", "d\xe9j\xe0\n"}} << false
        << QByteArray("d\xc3\xa9j\xc3\xa0\n\xc3\xa9t\xc3\xa9\n");
}

void TestSortBytes::keepsBytes() {
    QFETCH(Files, files);
    QFETCH(bool, inPlace);
    QFETCH(QByteArray, sorted);
    QTemporaryDir folder;
    QStringList arguments{QStringLiteral("sort")};
    if (inPlace)
        arguments << QStringLiteral("-o") << files.first().first;
    for (const auto& [name, bytes] : files) {
        writeFile(folder.filePath(name), bytes);
        arguments << name;
    }
    const ProgramRun run = runVarnel(arguments, folder.path());
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.status, 0);
    const QByteArray out = run.out;
    QCOMPARE(inPlace ? contentsOf(folder.filePath(files.first().first)) : out, sorted);
}

QTEST_GUILESS_MAIN(TestSortBytes)
#include "tst_sortbytes.moc"
