#pragma once

// The cases every reader of text files must agree on, shared by the window's reader and the
// command line's: columns "bytes" (the file) and "lines" (what it holds). A change to the
// line rule or to how an encoding is told shows here first.

#include <QByteArray>
#include <QStringList>
#include <QTest>

namespace varnel::testing {

inline void addTextFileColumns() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
}

// With `wide`, the same rule over UTF-16.
inline void addLineRuleRows(bool wide = false) {
    const auto newRow = [wide](const char* name) -> QTestData& {
        return wide ? QTest::addRow("%s, UTF-16", name) : QTest::newRow(name);
    };
    const auto asRead = [wide](const QByteArray& bytes) {
        if (!wide)
            return bytes;
        QByteArray units("\xFF\xFE");
        for (const char c : bytes)
            units.append(c).append('\0');
        return units;
    };
    newRow("CR LF") << asRead(QByteArray("alpha\r\nbeta\r\n")) << QStringList{"alpha", "beta"};
    newRow("no final break") << asRead(QByteArray("alpha\r\nbeta")) << QStringList{"alpha", "beta"};
    newRow("final LF ends the last line")
        << asRead(QByteArray("alpha\nbeta\n")) << QStringList{"alpha", "beta"};
    newRow("LF LF keeps its empty line")
        << asRead(QByteArray("alpha\n\nbeta")) << QStringList{"alpha", "", "beta"};
    newRow("empty line before a final LF")
        << asRead(QByteArray("alpha\r\n\n")) << QStringList{"alpha", ""};
    newRow("LF without final break")
        << asRead(QByteArray("alpha\nbeta")) << QStringList{"alpha", "beta"};
    newRow("CR alone") << asRead(QByteArray("alpha\rbeta\r")) << QStringList{"alpha", "beta"};
    newRow("blank line") << asRead(QByteArray("alpha\r\n\r\nbeta"))
                         << QStringList{"alpha", "", "beta"};
    newRow("only LF") << asRead(QByteArray("\n")) << QStringList{""};
    newRow("only CR LF") << asRead(QByteArray("\r\n")) << QStringList{""};
    newRow("LF then CR LF") << asRead(QByteArray("alpha\n\r\nbeta"))
                            << QStringList{"alpha", "", "beta"};
    newRow("CR CR") << asRead(QByteArray("a\r\rb")) << QStringList{"a", "", "b"};
    newRow("blanks and tabs stay")
        << asRead(QByteArray("  a \t\r\n\tb  ")) << QStringList{"  a \t", "\tb  "};
    newRow("empty file") << asRead(QByteArray()) << QStringList{};
}

inline void lineRuleRows() {
    addTextFileColumns();
    addLineRuleRows();
}

inline void addEncodingRows() {
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

inline void encodingRows() {
    addTextFileColumns();
    addEncodingRows();
}

// Every case above, and the line rule over UTF-16 too.
inline void textFileRows() {
    addTextFileColumns();
    addLineRuleRows();
    addLineRuleRows(true);
    addEncodingRows();
}

} // namespace varnel::testing
