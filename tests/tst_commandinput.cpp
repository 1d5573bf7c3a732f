// How the command line takes its input: from where a descriptor stands, and with no
// temporary space for what can be read again.

#include "order/linesortsafter.h"
#include "tests/support/programrun.h"
#include "tests/support/testfiles.h"
#include "tests/support/textreaders.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

using namespace varnel;
using namespace varnel::testing;

namespace {

using Run = ProgramRun;

// `command` run by the shell in `folder`, with the program on its PATH, `input` on standard
// input and, when given, a limit on the size of files it writes.
Run shell(const QString& command, const QString& folder, const QByteArray& input = {},
          const QString& temporaryFolder = {}, qint64 fileSizeLimit = -1) {
    ProgramCall call{{command}, folder, input};
    call.shell = true;
    if (!temporaryFolder.isEmpty())
        call.environment = {QStringLiteral("TMPDIR=") + temporaryFolder};
    call.fileSizeLimit = fileSizeLimit;
    return runProgram(call);
}

QByteArray joined(const QStringList& lines) {
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toUtf8() + '\n';
    return bytes;
}

// What "varnel check --lines" reports of `lines`.
QStringList outOfOrder(const QStringList& lines) {
    QStringList found;
    for (qsizetype i = 1; i < lines.size(); ++i)
        if (lineSortsAfter(lines[i - 1], lines[i]))
            found.append(lines[i - 1]);
    return found;
}

// Ten megabytes of valid UTF-8 with every other line out of order, then `tail`: findings
// beyond what is kept in memory while the encoding is in doubt.
QByteArray manyFindings(const QByteArray& tail) {
    const QByteArray pair = "\xc3\xa9t\xc3\xa9 " + QByteArray(64, 'x') + "\nf\xc3\xaate\n";
    return pair.repeated((10 << 20) / pair.size()) + tail;
}

} // namespace

class TestCommandInput : public QObject {
    Q_OBJECT
private slots:
    void init();
    void fromWhereTheShellLeftIt_data();
    void fromWhereTheShellLeftIt();
    void plainFileNeedsNoTemporarySpace_data();
    void plainFileNeedsNoTemporarySpace();
    void pipeBlamesTheTemporaryFolder();

private:
    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestCommandInput::init() {
    m_folder = std::make_unique<QTemporaryDir>();
}

void TestCommandInput::fromWhereTheShellLeftIt_data() {
    QTest::addColumn<QString>("command"); // on list.txt, its first line read by the shell
    QTest::addColumn<QByteArray>("rest"); // list.txt after that line
    QTest::addColumn<bool>("sort");
    // Out of order with anything that follows, were it read again.
    const QByteArray utf8 = "b\n\xc3\xa9t\xc3\xa9\na\n";
    // Past the first block read, a byte that is no UTF-8: read again as Windows-1252.
    const QByteArray late = QByteArray("b\xc3\xa9\n").repeated(100000) + "a\xe9\n";
    QTest::newRow("check after read")
        << "{ read -r h; varnel check --lines; } < list.txt" << utf8 << false;
    QTest::newRow("check of /dev/stdin after read")
        << "{ read -r h; varnel check --lines /dev/stdin; } < list.txt" << utf8 << false;
    QTest::newRow("check after read, Windows-1252 late")
        << "{ read -r h; varnel check --lines; } < list.txt" << late << false;
    QTest::newRow("sort after head, Windows-1252 late")
        << "(head -n 1 >/dev/null; varnel sort) < list.txt" << late << true;
    QTest::newRow("sort of /dev/fd/3 after head")
        << "(head -n 1 >/dev/null; varnel sort /dev/fd/3) 3<list.txt <list.txt 3<&0" << utf8
        << true;
}

void TestCommandInput::fromWhereTheShellLeftIt() {
    QFETCH(QString, command);
    QFETCH(QByteArray, rest);
    QFETCH(bool, sort);
    writeFile(m_folder->filePath("list.txt"), "zzz header\n" + rest);
    const Run run = shell(command, m_folder->path());
    QCOMPARE(run.err, QByteArray());
    const QStringList lines = textFileLines(rest);
    if (sort) {
        QStringList sorted = lines;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const QString& a, const QString& b) { return lineSortsAfter(b, a); });
        // The sort keeps the input's encoding: its output reads back as the input did.
        const QStringList written = textFileLines(run.out);
        QCOMPARE(written.size(), lines.size());
        QCOMPARE(written.first(), sorted.first());
    } else {
        QCOMPARE(run.out, joined(outOfOrder(lines)));
    }
}

void TestCommandInput::plainFileNeedsNoTemporarySpace_data() {
    QTest::addColumn<QByteArray>("tail");
    QTest::newRow("UTF-8 to the end") << QByteArray("z\n");
    QTest::newRow("a bad byte at the end") << QByteArray("na\xefve\n");
}

void TestCommandInput::plainFileNeedsNoTemporarySpace() {
    // More findings than are kept in memory while the encoding is in doubt, and no file may
    // grow past 64 KiB: the file is read ahead, and the findings stream.
    QFETCH(QByteArray, tail);
    const QByteArray bytes = manyFindings(tail);
    writeFile(m_folder->filePath("list.txt"), bytes);
    const Run run =
        shell("varnel check --lines list.txt", m_folder->path(), {}, m_folder->path(), 64 * 1024);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.status, 1);
    QVERIFY(run.out == joined(outOfOrder(textFileLines(bytes))));
}

void TestCommandInput::pipeBlamesTheTemporaryFolder() {
    // A pipe cannot be read twice: what is read ahead is kept in the temporary folder, and
    // when that runs out the message names both, rather than blaming the input alone.
    const Run run = shell("varnel check --lines", m_folder->path(), manyFindings("z\xff\n"),
                          m_folder->path(), 64 * 1024);
    QCOMPARE(run.err, "varnel: -: cannot hold standard input in " +
                          QFile::encodeName(m_folder->path()) + ": File too large\n");
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(run.status, 2);
}

QTEST_GUILESS_MAIN(TestCommandInput)
#include "tst_commandinput.moc"
