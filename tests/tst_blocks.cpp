#include "support/programrun.h"
#include "support/testfiles.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <utime.h>

using namespace varnel::testing;

namespace {

QByteArray utf16Le(const QString& text) {
    QByteArray bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return bytes;
}

// A file's modification time, to the nanosecond.
qint64 modifiedAt(const QString& path) {
    struct stat status {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
}

// One line of a random file, and whether a sort may move it.
struct RandomLine {
    QString text;
    QString lineBreak;
    bool inBlock = false;
};

// A random file with random blocks: comments, groups, items of several lines, commas, blank
// lines, both line breaks, a last line with or without its break.
QList<RandomLine> randomFile(QRandomGenerator& random) {
    static const QStringList words{u"a"_qs,    u"B"_qs, u"b"_qs,     u"item9"_qs, u"item10"_qs,
                                   u"é"_qs,    u"z"_qs, u"a b"_qs,   u"a-b"_qs,   u"\"x\""_qs,
                                   u"Zeta"_qs, u"ü"_qs, u"c d e"_qs, u"a"_qs};
    static const QStringList options{u""_qs, u" order=code"_qs, u" numeric"_qs, u" groups=no"_qs,
                                     u" order=locale numeric -->"_qs};
    const auto word = [&] { return words[random.bounded(words.size())]; };
    QList<RandomLine> lines;
    const QString crLf = random.bounded(3) == 0 ? u"\r\n"_qs : u"\n"_qs;
    const auto add = [&](const QString& text, bool inBlock) {
        lines.append({text, random.bounded(8) == 0 ? u"\r\n"_qs : crLf, inBlock});
    };
    const int blocks = random.bounded(1, 4);
    // One file in four has only blocks of plain lines, which the check reads in place.
    const bool plain = random.bounded(4) == 0;
    for (int b = 0; b < blocks; ++b) {
        for (int k = random.bounded(3); k > 0; --k)
            add(word(), false);
        add(u"# varnel: sorted"_qs + options[random.bounded(options.size())], false);
        const int groups = plain ? 1 : random.bounded(1, 4);
        for (int g = 0; g < groups; ++g) {
            if (g > 0)
                add(QString(), true);
            // None, all but the last, all.
            const int commas = plain ? 2 * random.bounded(2) : random.bounded(3);
            const int items = random.bounded(1, plain ? 40 : 7);
            for (int i = 0; i < items; ++i) {
                if (!plain && random.bounded(4) == 0)
                    add(u"# about "_qs + word(), true);
                add(word(), true);
                for (int c = !plain && random.bounded(4) == 0 ? random.bounded(1, 3) : 0; c > 0;
                     --c)
                    add(u"  - "_qs + word(), true);
                if (commas == 2 || (commas == 1 && i + 1 < items))
                    lines.last().text += random.bounded(2) ? u","_qs : u",  "_qs;
            }
            if (random.bounded(5) == 0)
                add(u"# trailing"_qs, true);
        }
        if (b + 1 < blocks || random.bounded(2))
            add(u"# varnel: end"_qs, false);
    }
    // Past a block left open, every line is the block's.
    const bool open = !lines.last().text.contains(u"varnel: end"_qs);
    for (int k = random.bounded(3); k > 0; --k)
        add(word(), open);
    if (random.bounded(3) == 0)
        lines.last().lineBreak.clear();
    return lines;
}

} // namespace

class TestBlocks : public QObject {
    Q_OBJECT
private slots:
    void program_data();
    void program();
    void inPlaceGoesOnPastABadMarker();
    void sortedBlocksPassTheCheck();
    void readmeExamples();

private:
    QTemporaryDir m_folder;
};

void TestBlocks::program_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("arguments"); // F: the file
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("after"); // the file's bytes after the run

    const QStringList check{u"check"_qs, u"--blocks"_qs, u"F"_qs};
    const QStringList sort{u"sort"_qs, u"--blocks"_qs, u"--order=code"_qs, u"--in-place"_qs,
                           u"F"_qs};
    const auto row = [](const char* name, const QByteArray& input, const QStringList& arguments,
                        int status, const QByteArray& out, const QByteArray& after) {
        QTest::newRow(name) << input << arguments << status << out << after;
    };
    const QByteArray apart = "# varnel: sorted\nb\n# on a\na\n";
    row("check: items apart", apart, check, 1, "F:2: \"b\" sorts after \"a\" on line 4\n", apart);
    row("check: the whole file without --blocks", "z\n# varnel: sorted\na\n",
        {u"check"_qs, u"F"_qs}, 1, "F:1: \"z\" sorts after \"# varnel: sorted\" on line 2\n",
        "z\n# varnel: sorted\na\n");
    row("check: outside the blocks", "z\n# varnel: sorted\na\nb\n# varnel: end\ny\n", check, 0, "",
        "z\n# varnel: sorted\na\nb\n# varnel: end\ny\n");
    row("check: the marker's numeric", "# varnel: sorted numeric\nitem9\nitem10\n", check, 0, "",
        "# varnel: sorted numeric\nitem9\nitem10\n");
    row("check: the marker's unique", "# varnel: sorted unique\na\nA\n", check, 1,
        "F:2: \"a\" repeats on line 3\n", "# varnel: sorted unique\na\nA\n");
    row("check: groups", "# varnel: sorted\nb\n\na\n", check, 0, "", "# varnel: sorted\nb\n\na\n");
    row("check: groups=no", "# varnel: sorted groups=no\nb\n\na\n", check, 1,
        "F:2: \"b\" sorts after \"\" on line 3\n", "# varnel: sorted groups=no\nb\n\na\n");
    row("check: compared without the comma", "# varnel: sorted\na,\na b\n", check, 0, "",
        "# varnel: sorted\na,\na b\n");
    row("check: json", "# varnel: sorted\nb,\n# c\na\n",
        {u"check"_qs, u"--blocks"_qs, u"--format=json"_qs, u"F"_qs}, 1,
        "{\"file\":\"F\",\"line\":2,\"text\":\"b\",\"next\":\"a\",\"nextLine\":4,\"kind\":"
        "\"order\"}\n",
        "# varnel: sorted\nb,\n# c\na\n");
    // Read in place, the first block's findings must not go out before the last block's bytes
    // are known to be UTF-8: read again in another encoding, they would go out twice.
    const QByteArray laterNotUtf8 =
        "# varnel: sorted\nb\na\n# varnel: end\n# varnel: sorted\na\xE9\nb\n";
    row("check: a later block not UTF-8", laterNotUtf8, check, 1,
        "F:2: \"b\" sorts after \"a\" on line 3\n", laterNotUtf8);
    row("check: an end alone", "a\n// varnel: end\n", check, 1,
        "F:2: \"varnel: end\" without a \"varnel: sorted\" before it\n", "a\n// varnel: end\n");
    row("check: the lines format names the marker", "# varnel: sorted order=any\na\n",
        {u"check"_qs, u"--blocks"_qs, u"--lines"_qs, u"F"_qs}, 1, "# varnel: sorted order=any\n",
        "# varnel: sorted order=any\na\n");

    row("sort: comments and continuations",
        "x = [\n    # varnel: sorted\n    \"b\",\n    # on a\n    \"a\",\n        # deeper\n"
        "    \"c\"\n    # varnel: end\n]\n",
        sort, 0, "",
        "x = [\n    # varnel: sorted\n    # on a\n    \"a\",\n        # deeper\n    \"b\",\n"
        "    \"c\"\n    # varnel: end\n]\n");
    row("sort: the last comma moves", "# varnel: sorted\nc,\nb,  \na  \n# tail\n", sort, 0, "",
        "# varnel: sorted\na,  \nb,  \nc\n# tail\n");
    row("sort: groups and their trailing comments", "# varnel: sorted\nb\na\n# t\n\nd\nc\n", sort,
        0, "", "# varnel: sorted\na\nb\n# t\n\nc\nd\n");
    row("sort: each line keeps its break", "# varnel: sorted\r\nc\r\nb\na", sort, 0, "",
        "# varnel: sorted\r\na\r\nb\nc");
    row("sort: UTF-16", utf16Le(u"# varnel: sorted\nb,\na\n"_qs), sort, 0, "",
        utf16Le(u"# varnel: sorted\na,\nb\n"_qs));
    row("sort: Windows-1252", "# varnel: sorted\n\xE9\nb\na\n", sort, 0, "",
        "# varnel: sorted\na\nb\n\xE9\n");
    row("sort: the marker's unique", "# varnel: sorted unique\nb,\na,\nB\n", sort, 0, "",
        "# varnel: sorted unique\na,\nb\n");
    row("sort: no marker, not written", "b\na\n", sort, 0, "", "b\na\n");
    row("sort: in order, not written", "# varnel: sorted\na\nb\n", sort, 0, "",
        "# varnel: sorted\na\nb\n");
    row("sort: a second start", "# varnel: sorted\nb\n# varnel: sorted\na\n", sort, 2, "",
        "# varnel: sorted\nb\n# varnel: sorted\na\n");
    row("sort: to standard output", "b\n# varnel: sorted\nz\ny\n",
        {u"sort"_qs, u"--blocks"_qs, u"F"_qs}, 0, "b\n# varnel: sorted\ny\nz\n",
        "b\n# varnel: sorted\nz\ny\n");
}

void TestBlocks::program() {
    QFETCH(QByteArray, input);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, after);
    const QString path = m_folder.filePath(u"F"_qs);
    writeFile(path, input);
    // An hour ago: a file written anew would show it.
    const utimbuf then{::time(nullptr) - 3600, ::time(nullptr) - 3600};
    ::utime(QFile::encodeName(path).constData(), &then);
    const qint64 before = modifiedAt(path);
    const ProgramRun run = runProgram({arguments, m_folder.path(), {}});
    QCOMPARE(run.out, out);
    QCOMPARE(run.status, status);
    QCOMPARE(run.err.isEmpty(), status != 2);
    QCOMPARE(contentsOf(path), after);
    if (after == input)
        QCOMPARE(modifiedAt(path), before);
}

void TestBlocks::inPlaceGoesOnPastABadMarker() {
    writeFile(m_folder.filePath(u"bad"_qs), "a\n# varnel: end\n");
    writeFile(m_folder.filePath(u"good"_qs), "# varnel: sorted\nb\na\n");
    const ProgramRun run =
        runProgram({{u"sort"_qs, u"--blocks"_qs, u"--in-place"_qs, u"bad"_qs, u"good"_qs},
                    m_folder.path(),
                    {}});
    QCOMPARE(run.status, 2);
    QVERIFY(run.err.contains("bad: line 2: \"varnel: end\" without"));
    QCOMPARE(contentsOf(m_folder.filePath(u"bad"_qs)), "a\n# varnel: end\n");
    QCOMPARE(contentsOf(m_folder.filePath(u"good"_qs)), "# varnel: sorted\na\nb\n");
}

// Random files with random blocks, in one order or another: sorted, they pass the check,
// sorting them again changes nothing, and every byte outside their blocks stays.
void TestBlocks::sortedBlocksPassTheCheck() {
    QRandomGenerator random(20261209);
    const QTemporaryDir folder;
    QStringList names;
    QList<QList<RandomLine>> files;
    QList<QByteArray> inputs;
    // Every encoding the check reads, one file in ten each but UTF-8: UTF-16 with its mark,
    // UTF-8 with its mark, Windows-1252.
    enum Encoding { Utf8, Utf16, MarkedUtf8, Windows1252 };
    const auto encodingOf = [](int f) { return f % 10 < 7 ? Utf8 : Encoding(f % 10 - 6); };
    const auto encode = [](const QString& text, Encoding encoding) {
        switch (encoding) {
        case Utf16:
            return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        case Windows1252:
            return text.toLatin1();
        case Utf8:
        case MarkedUtf8:
            break;
        }
        return text.toUtf8();
    };
    const auto markOf = [](Encoding encoding) {
        return encoding == Utf16        ? QByteArray("\xFF\xFE")
               : encoding == MarkedUtf8 ? QByteArray("\xEF\xBB\xBF")
                                        : QByteArray();
    };
    for (int f = 0; f < 300; ++f) {
        const QList<RandomLine> lines = randomFile(random);
        QByteArray bytes = markOf(encodingOf(f));
        for (const RandomLine& line : lines)
            bytes += encode(line.text + line.lineBreak, encodingOf(f));
        names.append(QStringLiteral("f%1").arg(f));
        writeFile(folder.filePath(names.last()), bytes);
        files.append(lines);
        inputs.append(bytes);
    }
    // A file is checked as its bytes are when they come down a pipe, read line by line.
    const QStringList check{u"check"_qs, u"--blocks"_qs, u"--format=json"_qs};
    ProgramRun run = runProgram({check + names, folder.path(), {}});
    QByteArray piped;
    for (int f = 0; f < names.size(); ++f)
        piped += runProgram({check + QStringList{u"-"_qs}, folder.path(), inputs[f]})
                     .out.replace("{\"file\":\"-\"", "{\"file\":\"" + names[f].toUtf8() + '"');
    QCOMPARE(run.out, piped);
    const QStringList sort =
        QStringList{u"sort"_qs, u"--blocks"_qs, u"--order=code"_qs, u"--in-place"_qs} + names;
    run = runProgram({sort, folder.path(), {}});
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.status, 0);
    run = runProgram({QStringList{u"check"_qs, u"--blocks"_qs} + names, folder.path(), {}});
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(run.status, 0);
    QList<QByteArray> sorted;
    for (int f = 0; f < names.size(); ++f) {
        sorted.append(contentsOf(folder.filePath(names[f])));
        // Without repeats left out, a block keeps its length: what lies outside stays where
        // it was.
        QCOMPARE(sorted.last().size(), inputs[f].size());
        qsizetype at = markOf(encodingOf(f)).size();
        for (const RandomLine& line : files[f]) {
            const QByteArray bytes = encode(line.text + line.lineBreak, encodingOf(f));
            if (!line.inBlock && sorted.last().mid(at, bytes.size()) != bytes)
                QFAIL(qPrintable(QStringLiteral("%1 changed outside its blocks").arg(names[f])));
            at += bytes.size();
        }
    }
    run = runProgram({sort, folder.path(), {}});
    QCOMPARE(run.status, 0);
    for (int f = 0; f < names.size(); ++f)
        QCOMPARE(contentsOf(folder.filePath(names[f])), sorted[f]);
}

// The README's examples, exactly as written: each a file, the command that sorts it, and
// the file it makes.
void TestBlocks::readmeExamples() {
    QFile readme(QStringLiteral(VARNEL_SOURCE_DIR "/README.md"));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    const qsizetype from = text.indexOf(u"\n## Sorted blocks inside any file\n"_qs);
    QVERIFY(from >= 0);
    const QString section = text.mid(from + 1, text.indexOf(u"\n## "_qs, from + 1) - from);
    QStringList blocks;
    static const QRegularExpression fenced(u"\n```[a-z]*\n(.*?)```"_qs,
                                           QRegularExpression::DotMatchesEverythingOption);
    for (const QRegularExpressionMatch& match : fenced.globalMatch(section))
        blocks.append(match.captured(1));
    QCOMPARE(blocks.size(), 9);
    const QTemporaryDir folder;
    for (qsizetype k = 0; k + 2 < blocks.size(); k += 3) {
        const QString command = blocks[k + 1].trimmed();
        const QString name = command.section(u' ', -1);
        writeFile(folder.filePath(name), blocks[k].toUtf8());
        const QStringList check{u"check"_qs, u"--blocks"_qs, name};
        QCOMPARE(runProgram({check, folder.path(), {}}).status, 1);
        const ProgramRun run = runProgram({{command}, folder.path(), {}, {}, true});
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.status, 0);
        QCOMPARE(QString::fromUtf8(contentsOf(folder.filePath(name))), blocks[k + 2]);
        QCOMPARE(runProgram({check, folder.path(), {}}).status, 0);
    }
}

QTEST_GUILESS_MAIN(TestBlocks)
#include "tst_blocks.moc"
