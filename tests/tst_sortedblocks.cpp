#include "check/pairwalk.h"
#include "check/utf8linepairs.h"
#include "text/sortedblocks.h"
#include "text/utf8blocks.h"

#include <QTest>

using namespace varnel;

namespace {

// The blocks found, lines counted from 1: "[MARKER-END options] {FIRST-LAST@COMPARED'TEXT' ...
// ~TRAILING_FIRST-TRAILING_LAST ,}" a group, ",": the group keeps its commas; "!LINE message"
// a problem.
QString described(const BlockLines& lines, const SortedBlocks& found) {
    QStringList out;
    for (const MarkerProblem& problem : found.problems)
        out.append(QStringLiteral("!%1 %2").arg(problem.line + 1).arg(problem.message));
    for (const SortedBlock& block : found.blocks) {
        QString text = QStringLiteral("[%1-%2").arg(block.marker + 1).arg(block.end);
        if (block.rule)
            text += *block.rule == LineOrder::Rule::Code ? u" code" : u" locale";
        if (block.numeric)
            text += u" numeric";
        if (block.unique)
            text += u" unique";
        if (block.groupsAcross)
            text += u" across";
        if (!block.leader.isEmpty())
            text += QStringLiteral(" '%1'").arg(block.leader);
        text += u']';
        for (const BlockGroup& group : block.groups) {
            text += u" {";
            for (const BlockItem& item : group.items)
                text += QStringLiteral("%1-%2@%3'%4' ")
                            .arg(item.first + 1)
                            .arg(item.last + 1)
                            .arg(item.compared + 1)
                            .arg(comparedText(lines, item));
            if (group.trailingEnd > group.trailingFirst)
                text +=
                    QStringLiteral("~%1-%2 ").arg(group.trailingFirst + 1).arg(group.trailingEnd);
            if (group.commas)
                text += u',';
            text = text.trimmed() + u'}';
        }
        out.append(text);
    }
    return out.join(u" | ");
}

} // namespace

class TestSortedBlocks : public QObject {
    Q_OBJECT
private slots:
    void blocks_data();
    void blocks();
    void longBlockInHalves_data();
    void longBlockInHalves();
};

void TestSortedBlocks::blocks_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const char* text, const char* expected) {
        QTest::newRow(name) << QString::fromUtf8(text) << QString::fromUtf8(expected);
    };
    row("no marker", "b\na\n", "");
    row("open to the end", "# varnel: sorted\nb\na", "[1-3 '#'] {2-2@2'b' 3-3@3'a'}");
    row("ended", "x\n# varnel: sorted\nb\na\n# varnel: end\nz", "[2-4 '#'] {3-3@3'b' 4-4@4'a'}");
    row("two blocks", "// varnel: sorted\nb\n// varnel: end\n// varnel: sorted\na",
        "[1-2 '//'] {2-2@2'b'} | [4-5 '//'] {5-5@5'a'}");
    row("empty block", "# varnel: sorted\n# varnel: end", "[1-1 '#']");
    row("no leader", "varnel: sorted\n# b\na", "[1-3] {2-2@2'# b' 3-3@3'a'}");
    row("html leader", "<!-- varnel: sorted -->\n<!-- b -->\nb\na",
        "[1-4 '<!--'] {2-3@3'b' 4-4@4'a'}");
    row("options", "-- varnel: sorted order=code numeric unique groups=no\na",
        "[1-2 code numeric unique across '--'] {2-2@2'a'}");
    row("options end at another word", "<!-- varnel: sorted order=locale --> numeric\na",
        "[1-2 locale '<!--'] {2-2@2'a'}");
    row("second start", "# varnel: sorted\na\n# varnel: sorted\nb",
        "!3 \"varnel: sorted\" before the block that starts on line 1 has ended");
    row("end without start", "a\n# varnel: end",
        "!2 \"varnel: end\" without a \"varnel: sorted\" before it");
    row("unknown word", "# varnel: sorted ordered\na",
        "!1 unknown word \"ordered\" after \"varnel: sorted\"");
    row("groups", "# varnel: sorted\nb\na\n\n  \nd\nc",
        "[1-7 '#'] {2-2@2'b' 3-3@3'a'} {6-6@6'd' 7-7@7'c'}");
    row("blank lines after a marker", "# varnel: sorted\nb\n# varnel: end\n\n\n# varnel: sorted\na",
        "[1-2 '#'] {2-2@2'b'} | [6-7 '#'] {7-7@7'a'}");
    row("groups across", "# varnel: sorted groups=no\nb\n\na",
        "[1-4 across '#'] {2-2@2'b' 3-3@3'' 4-4@4'a'}");
    row("comments attach below", "# varnel: sorted\n# about b\n  # more\nb\na",
        "[1-5 '#'] {2-4@4'b' 5-5@5'a'}");
    row("trailing comments", "# varnel: sorted\nb\n# the end\n\na\n# last",
        "[1-6 '#'] {2-2@2'b' ~3-3} {5-5@5'a' ~6-6}");
    row("continuations", "# varnel: sorted\n- b\n  x: 1\n\t# kept\n- a\n  y: 2",
        "[1-6 '#'] {2-4@2'- b' 5-6@5'- a'}");
    row("indent from the first item", "# varnel: sorted\n  b\n    c\n a\n  d",
        "[1-5 '#'] {2-3@2'  b' 4-4@4' a' 5-5@5'  d'}");
    row("commas", "# varnel: sorted\n  \"b\",  \n  \"a\",\n  \"c\"",
        "[1-4 '#'] {2-2@2'  \"b\"' 3-3@3'  \"a\"' 4-4@4'  \"c\"' ,}");
    row("commas on the last line", "# varnel: sorted\nf(b,\n  x),\na",
        "[1-4 '#'] {2-3@2'f(b,' 4-4@4'a' ,}");
    row("every item with a comma", "# varnel: sorted\nb,\na,", "[1-3 '#'] {2-2@2'b,' 3-3@3'a,'}");
    row("a comma missing", "# varnel: sorted\nb\na,\nc", "[1-4 '#'] {2-2@2'b' 3-3@3'a,' 4-4@4'c'}");
    row("one item", "# varnel: sorted\nb,", "[1-2 '#'] {2-2@2'b,'}");
    row("a comment after another space", "# varnel: sorted\nb\n\u00A0# a\na",
        "[1-4 '#'] {2-2@2'b' 3-4@4'a'}");
    row("items of letters beyond ASCII", "# varnel: sorted\né\n“ß”\n\u00E0",
        "[1-4 '#'] {2-2@2'é' 3-3@3'“ß”' 4-4@4'\u00E0'}");
}

void TestSortedBlocks::blocks() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const BlockLines lines = QStringView(text).split(u'\n');
    const SortedBlocks found = findSortedBlocks(lines);
    QCOMPARE(described(lines, found), expected);

    // The scan of the same text in UTF-8 finds the same blocks, and says a block's lines are
    // each an item compared whole exactly where the reader finds them so.
    const QByteArray utf8 = text.toUtf8();
    const Utf8Blocks scanned = findUtf8Blocks(utf8);
    QCOMPARE(qsizetype(scanned.spans.size()), found.blocks.size());
    QVERIFY(scanned.utf8);
    std::vector<qsizetype> starts{0}; // of each line in the UTF-8 text, and its end
    for (const QStringView line : lines)
        starts.push_back(starts.back() + line.toUtf8().size() + 1);
    starts.back() = utf8.size();
    for (qsizetype b = 0; b < found.blocks.size(); ++b) {
        const SortedBlock& block = found.blocks[b];
        const Utf8Blocks::Span& span = scanned.spans[size_t(b)];
        QCOMPARE(scanned.markers.blocks[b].marker, block.marker);
        QCOMPARE(scanned.markers.blocks[b].end, block.end);
        QCOMPARE(span.from, starts[size_t(std::min(block.first, lines.size()))]);
        QCOMPARE(span.to, starts[size_t(block.end)]);
        bool whole = block.groups.size() <= 1;
        for (const BlockGroup& group : block.groups) {
            whole = whole && group.trailingEnd == group.trailingFirst;
            for (const BlockItem& item : group.items)
                whole = whole && item.first == item.last &&
                        item.comparedLength == lines[item.compared].size();
        }
        QCOMPARE(span.wholeLines, whole);
    }

    // Left to the check, an only block's shape is read as its lines are compared, and the
    // answer is the same however they are shared out and whichever are cut late.
    if (found.blocks.size() != 1)
        return;
    const Utf8Blocks left = findUtf8Blocks(utf8, true);
    QVERIFY(!left.spans.front().wholeLines);
    // Its true end, which a block left to the check learns from a marker found in it.
    const Utf8Blocks::Span& span = scanned.spans.front();
    struct : LinePairTaker {
        void take(const LinePair&) override {}
    } ignored;
    PairWalk walk;
    for (const qsizetype shareSize : {1, 5, 1 << 20}) {
        for (const qsizetype mostKept : {1, 1 << 20}) {
            const LinePairTuning tuning{0, 2, shareSize, 1 << 17, mostKept};
            QCOMPARE(findUtf8BlockLinePairs(
                         walk, QByteArrayView(utf8).sliced(span.from, span.to - span.from),
                         scanned.markers.blocks.front(), false, ignored, tuning),
                     *scanned.spans.front().wholeLines);
        }
    }
}

// A block of megabytes is read in two halves on two threads, which must join as one.
void TestSortedBlocks::longBlockInHalves_data() {
    QTest::addColumn<QByteArray>("line"); // repeated to fill the block
    QTest::addColumn<QByteArray>("late"); // in the second half
    QTest::addColumn<QByteArray>("last"); // the block's last line
    QTest::addColumn<bool>("wholeLines");
    QTest::newRow("plain") << QByteArray("name") << QByteArray("other") << QByteArray("a") << true;
    QTest::newRow("commas but the last")
        << QByteArray("b,") << QByteArray("c,") << QByteArray("a") << false;
    QTest::newRow("a comma missing in the second half")
        << QByteArray("b,") << QByteArray("c") << QByteArray("a") << true;
    QTest::newRow("every line with a comma")
        << QByteArray("b,") << QByteArray("c,") << QByteArray("a,") << true;
    QTest::newRow("set in further in the second half")
        << QByteArray(" b") << QByteArray("  c") << QByteArray(" a") << false;
    QTest::newRow("set in as the first line")
        << QByteArray(" b") << QByteArray("\tc") << QByteArray("a") << true;
    QTest::newRow("a comment in the second half")
        << QByteArray("b") << QByteArray("# c") << QByteArray("a") << false;
}

void TestSortedBlocks::longBlockInHalves() {
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, late);
    QFETCH(QByteArray, last);
    QFETCH(bool, wholeLines);
    constexpr int Copies = 400000; // past a megabyte, so read in halves
    QByteArray text = "# varnel: sorted\r\n";
    for (int i = 0; i < Copies; ++i)
        text += (i == Copies * 3 / 4 ? late : line) + (i % 2 ? "\n" : "\r\n");
    text += last;
    const Utf8Blocks found = findUtf8Blocks(text);
    QCOMPARE(found.spans.size(), size_t(1));
    QCOMPARE(found.spans.front().wholeLines, wholeLines);
    QCOMPARE(found.markers.blocks.front().end, Copies + 2);
}

QTEST_GUILESS_MAIN(TestSortedBlocks)
#include "tst_sortedblocks.moc"
