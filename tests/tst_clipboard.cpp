#include "commands/copying.h"
#include "commands/windowstate.h"
#include "output/clipboardtext.h"
#include "tests/support/commandform.h"
#include "tests/support/testfiles.h"

#include <QTest>

using namespace varnel;
using namespace varnel::testing;

using Rows = QList<QStringList>;

namespace {

const QString copiedMessage =
    QStringLiteral("Results have been copied to the clipboard.\r\rClick a text area where you "
                   "normally type and press Ctrl+V to paste the clipboard.");

using Form = CommandForm;

} // namespace

class TestClipboard : public QObject {
    Q_OBJECT
private slots:
    void text_data();
    void text();
    void busyClipboard_data();
    void busyClipboard();
};

void TestClipboard::text_data() {
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QString>("text");
    QTest::newRow("no items") << Rows{} << QString();
    QTest::newRow("abc") << Rows{{"abc"}} << "abc\r\n";
    QTest::newRow("trailing blanks go, leading stay") << Rows{{" b  "}, {"a"}} << " b\r\na\r\n";
    QTest::newRow("only blanks") << Rows{{"   "}, {"x"}} << "\r\nx\r\n";
    QTest::newRow("trailing tab stays") << Rows{{"a\t"}, {"b \t "}} << "a\t\r\nb \t\r\n";
    QTest::newRow("empty result") << Rows{{""}} << "\r\n";
    QTest::newRow("two columns") << Rows{{"ab", "x"}, {"c", "yy"}} << "ab\tx\r\nc \tyy\r\n";
    // Only blanks go at the end of a line: the tab before an empty last cell stays.
    QTest::newRow("empty last column") << Rows{{"a", ""}, {"bcd", ""}} << "a  \t\r\nbcd\t\r\n";
    QTest::newRow("three columns")
        << Rows{{"a", "", "z"}, {"", "mm", ""}} << "a\t  \tz\r\n \tmm\t\r\n";
    // Widths count UTF-16 units, as the text is shown, not the bytes it is kept in.
    QTest::newRow("beyond Latin-1")
        << Rows{{"é中😀", "x"}, {"abcde", "y"}} << "é中😀 \tx\r\nabcde\ty\r\n";
    // Half a surrogate pair cannot be told in UTF-8: the lines before it stay as they were.
    const QString half(QChar(0xD800));
    QTest::newRow("half a pair") << Rows{{"é"}, {half + "b "}, {"c"}}
                                 << "é\r\n" + half + "b\r\nc\r\n";
    // Nor can U+FEFF at the very start: read back from UTF-8, it would be taken for a mark.
    const QString mark(QChar(0xFEFF));
    QTest::newRow("U+FEFF first") << Rows{{mark + "a"}, {mark}} << mark + "a\r\n" + mark + "\r\n";
}

void TestClipboard::text() {
    QFETCH(Rows, rows);
    QFETCH(QString, text);
    int yields = 0;
    const auto cell = [&rows](qsizetype item, qsizetype column) {
        return rows.at(item - 1).at(column - 1);
    };
    const qsizetype columns = rows.isEmpty() ? 1 : rows.first().size();
    QCOMPARE(clipboardText(rows.size(), columns, cell, [&yields] { ++yields; }).toString(), text);
    QVERIFY(rows.isEmpty() || yields > 0);
}

void TestClipboard::busyClipboard_data() {
    QTest::addColumn<int>("failures");
    QTest::addColumn<QString>("clipboard");
    QTest::newRow("free at once") << 0 << "r\r\n";
    QTest::newRow("free after a few tries") << 20 << "r\r\n";
    // Held for good: the copy gives up in the end, the old text stays, nothing is reported.
    QTest::newRow("never free") << 100000 << "earlier";
}

void TestClipboard::busyClipboard() {
    QFETCH(int, failures);
    QFETCH(QString, clipboard);
    Form form;
    form.ui.clipboard = QStringLiteral("earlier");
    form.ui.clipboardFailuresLeft = failures;
    form.state.results().append(QStringLiteral("r"));
    copyResultsToClipboard(form.state);
    QCOMPARE(form.ui.clipboard, clipboard);
    QCOMPARE(form.ui.messageTexts(), QStringList{copiedMessage});
}

QTEST_GUILESS_MAIN(TestClipboard)
#include "tst_clipboard.moc"
