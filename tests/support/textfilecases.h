#pragma once

// The cases every reader of text files must agree on, shared by the window's reader and the
// command line's: columns "bytes" (the file) and "lines" (what it holds).

#include <QByteArray>
#include <QStringList>
#include <QTest>

namespace varnel::testing {

inline void lineRuleRows() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("CR LF") << QByteArray("alpha\r\nbeta\r\n") << QStringList{"alpha", "beta"};
    QTest::newRow("no final break") << QByteArray("alpha\r\nbeta") << QStringList{"alpha", "beta"};
    QTest::newRow("final LF ends the last line")
        << QByteArray("alpha\nbeta\n") << QStringList{"alpha", "beta"};
    QTest::newRow("LF LF keeps its empty line")
        << QByteArray("alpha\n\nbeta") << QStringList{"alpha", "", "beta"};
    QTest::newRow("empty line before a final LF")
        << QByteArray("alpha\r\n\n") << QStringList{"alpha", ""};
    QTest::newRow("LF without final break")
        << QByteArray("alpha\nbeta") << QStringList{"alpha", "beta"};
    QTest::newRow("CR alone") << QByteArray("alpha\rbeta\r") << QStringList{"alpha", "beta"};
    QTest::newRow("blank line") << QByteArray("alpha\r\n\r\nbeta")
                                << QStringList{"alpha", "", "beta"};
    QTest::newRow("only LF") << QByteArray("\n") << QStringList{""};
    QTest::newRow("only CR LF") << QByteArray("\r\n") << QStringList{""};
    QTest::newRow("LF then CR LF")
        << QByteArray("alpha\n\r\nbeta") << QStringList{"alpha", "", "beta"};
    QTest::newRow("CR CR") << QByteArray("a\r\rb") << QStringList{"a", "", "b"};
    QTest::newRow("blanks and tabs stay")
        << QByteArray("  a \t\r\n\tb  ") << QStringList{"  a \t", "\tb  "};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
}

inline void encodingRows() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    const QString cafe = QStringLiteral("caf\u00e9");
    QTest::newRow("UTF-8") << QByteArray("caf\xC3\xA9\r\n\xE2\x82\xAC")
                           << QStringList{cafe, QStringLiteral("\u20ac")};
    QTest::newRow("UTF-8 mark is not text") << QByteArray("\xEF\xBB\xBF"
                                                          "apple\r\npear")
                                            << QStringList{"apple", "pear"};
    QTest::newRow("a later mark stays") << QByteArray("a\r\n\xEF\xBB\xBF"
                                                      "b")
                                        << QStringList{"a", QStringLiteral("\ufeffb")};
    QTest::newRow("Windows-1252") << QByteArray("caf\xE9\r\n\x93q\x94 \x80")
                                  << QStringList{cafe, QStringLiteral("\u201cq\u201d \u20ac")};
    QTest::newRow("unassigned 1252 bytes")
        << QByteArray("\x81\x8D\x8F\x90\x9D")
        << QStringList{QStringLiteral("\u0081\u008d\u008f\u0090\u009d")};
    QTest::newRow("invalid UTF-8 is 1252")
        << QByteArray("\xC3\xA9\r\n\xC3(")
        << QStringList{QStringLiteral("\u00c3\u00a9"), QStringLiteral("\u00c3(")};
    QTest::newRow("UTF-8 cut off at the end is 1252")
        << QByteArray("ab\xE2\x82") << QStringList{QStringLiteral("ab\u00e2\u201a")};
    QTest::newRow("UTF-16 LE") << QByteArray("\xFF\xFE"
                                             "a\0\xE9\0\r\0\n\0\xAC\x20",
                                             12)
                               << QStringList{QStringLiteral("a\u00e9"), QStringLiteral("\u20ac")};
    QTest::newRow("UTF-16 BE") << QByteArray("\xFE\xFF\0a\0\xE9\0\r\0\n\x20\xAC", 12)
                               << QStringList{QStringLiteral("a\u00e9"), QStringLiteral("\u20ac")};
}

} // namespace varnel::testing
