#include "app/mainwindow.h"
#include "cli/commandline.h"
#include "cli/streams.h"
#include "order/collation.h"
#include "order/linesortsafter.h"
#include "files/filesystem.h"
#include "tests/support/textreaders.h"
#include "tests/support/programrun.h"
#include "tests/support/testfiles.h"
#include "tests/support/textfilecases.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace varnel;
using namespace varnel::testing;

namespace {

using Run = ProgramRun;

// The real program, in `folder`, with `input` on a pipe as its standard input.
Run run(const QStringList& arguments, const QByteArray& input, const QString& folder,
        qint64 fileSizeLimit = -1, bool display = true) {
    ProgramCall call{arguments, folder, input};
    call.fileSizeLimit = fileSizeLimit;
    if (!display)
        call.environment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    return runProgram(call);
}

// `expected` ending in "..." asks only for what comes before.
bool matches(const QByteArray& actual, const QByteArray& expected) {
    return expected.endsWith("...") ? actual.startsWith(expected.chopped(3)) : actual == expected;
}

// What the window's commands make of a file's lines.
QByteArray joined(const QStringList& lines, const QByteArray& lineBreak) {
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toUtf8() + lineBreak;
    return bytes;
}

QStringList inCorrectOrder(QStringList lines) {
    std::stable_sort(lines.begin(), lines.end(), [](const QString& a, const QString& b) {
        return compareInCorrectOrder(a, b) < 0;
    });
    return lines;
}

QStringList outOfOrder(const QStringList& lines) {
    QStringList found;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lineSortsAfter(lines[i - 1], lines[i]))
            found.append(lines[i - 1]);
    }
    return found;
}

// The report on lines that need no escapes.
QByteArray reportOf(const QString& name, const QStringList& lines) {
    QByteArray report;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lineSortsAfter(lines[i - 1], lines[i]))
            report += QStringLiteral("%1:%2: \"%3\" sorts after \"%4\" on line %5\n")
                          .arg(name)
                          .arg(i)
                          .arg(lines[i - 1], lines[i])
                          .arg(i + 1)
                          .toUtf8();
    }
    return report;
}

// A file's first line ends with CR LF.
bool startsWithCrLf(const QByteArray& bytes) {
    const QString text = decodeTextFile(bytes);
    const auto end =
        std::find_if(text.begin(), text.end(), [](QChar c) { return c == u'\r' || c == u'\n'; });
    return QStringView(text).sliced(end - text.begin()).startsWith(u"\r\n");
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void init();
    void commands_data();
    void commands();
    void lineRule_data() { lineRuleRows(); }
    void lineRule();
    void encodings_data() { encodingRows(); }
    void encodings() { lineRule(); }
    void decidedPastTheFirstBlock_data();
    void decidedPastTheFirstBlock();
    void sortInPlace_data();
    void sortInPlace();
    void standardOutputThatFails_data();
    void standardOutputThatFails();
    void sortIntoAPipe();
    void sortOntoAGivenStreamsFile_data();
    void sortOntoAGivenStreamsFile();
    void windowArguments_data();
    void windowArguments();
    void windowOpensWithFiles();
    void fileNamesKeepTheirBytes();

private:
    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestCommandLine::init() {
    m_folder = std::make_unique<QTemporaryDir>();
    writeFile(m_folder->filePath("ok.txt"), "alpha\nbeta\n");
    writeFile(m_folder->filePath("bad.txt"), "b\na\n");
    writeFile(m_folder->filePath("crlf.txt"), "zeta\r\nEta\n");
}

void TestCommandLine::commands_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    const auto row = [](const char* name, const QStringList& arguments, const QByteArray& input,
                        int status, const QByteArray& out, const QByteArray& err = {}) {
        QTest::newRow(name) << arguments << input << status << out << err;
    };
    row("version", {"--version"}, {}, 0, "varnel 1.0\n");
    row("unknown order", {"check", "--order=alpha"}, {}, 2, {},
        "varnel: unknown order 'alpha' (code or locale)\n"
        "Try 'varnel check --help' for more information.\n");
    row("unknown format", {"check", "--format", "xml"}, {}, 2, {},
        "varnel: unknown format 'xml' (gnu, lines, json, github or sarif)\n"
        "Try 'varnel check --help' for more information.\n");
    row("two formats", {"check", "--lines", "--format=json"}, {}, 2, {},
        "varnel: --lines and --format=json ask for two formats\n"
        "Try 'varnel check --help' for more information.\n");
    row("--lines with its own format", {"check", "--lines", "--format=lines"}, "b\na\n", 1,
        "b\n");
    row("in place and an output", {"sort", "--in-place", "-o", "x", "a"}, {}, 2, {},
        "varnel: --in-place and -o/--output ask for two places\n"
        "Try 'varnel sort --help' for more information.\n");
    row("in place without a file", {"sort", "--in-place"}, {}, 2, {},
        "varnel: --in-place sorts FILEs, not standard input\n"
        "Try 'varnel sort --help' for more information.\n");
    row("unknown option", {"--frobnicate"}, {}, 2, {},
        "varnel: Unknown option 'frobnicate'.\nTry 'varnel --help' for more information.\n");
    row("unknown option of check", {"check", "-x"}, {}, 2, {},
        "varnel: Unknown option 'x'.\nTry 'varnel check --help' for more information.\n");
    row("missing output", {"sort", "-o"}, {}, 2, {},
        "varnel: Missing value after '-o'.\nTry 'varnel sort --help' for more information.\n");
    row("window without a display", {"ok.txt"}, {}, 2, {},
        "varnel: no display: DISPLAY and WAYLAND_DISPLAY are not set (the window needs a "
        "desktop session)\n");

    row("in order", {"check"}, "apple\nBanana\ncherry\n", 0, {});
    row("out of order", {"check"}, "c\nb\na\nd\n", 1,
        "-:1: \"c\" sorts after \"b\" on line 2\n-:2: \"b\" sorts after \"a\" on line 3\n");
    row("- reads standard input", {"check", "ok.txt", "-"}, "b\na\n", 1,
        "-:1: \"b\" sorts after \"a\" on line 2\n");
    row("lines only", {"check", "--lines"}, "c\nb\na\nd\n", 1, "c\nb\n");
    row("escapes", {"check"}, "a \"q\" \\ \t\x01\x7f\xc2\x85z\n0\n", 1,
        "-:1: \"a \\\"q\\\" \\\\ \\t\\001\\177\\302\\205z\" sorts after \"0\" on line 2\n");
    row("Windows-1252 written as UTF-8", {"check", "--lines"}, "caf\xe9\ncafe\n", 1,
        "caf\xc3\xa9\n");
    row("each file on its own", {"check", "bad.txt", "ok.txt", "bad.txt"}, {}, 1,
        "bad.txt:1: \"b\" sorts after \"a\" on line 2\n"
        "bad.txt:1: \"b\" sorts after \"a\" on line 2\n");
    row("a missing file among good ones", {"check", "bad.txt", "missing.txt", "ok.txt"}, {}, 2,
        "bad.txt:1: \"b\" sorts after \"a\" on line 2\n",
        "varnel: missing.txt: No such file or directory\n");
    row("a folder", {"check", "."}, {}, 2, {}, "varnel: .: Is a directory\n");

    row("sort", {"sort"}, "pear\nApple\nbanana\nb\nB\n", 0, "Apple\nb\nB\nbanana\npear\n");
    row("sort with the first file's CR LF", {"sort", "crlf.txt", "ok.txt"}, {}, 0,
        "alpha\r\nbeta\r\nEta\r\nzeta\r\n");
    row("sort with the first file's LF", {"sort", "ok.txt", "crlf.txt"}, {}, 0,
        "alpha\nbeta\nEta\nzeta\n");
    row("sort writes nothing with a file missing", {"sort", "ok.txt", "missing.txt"}, {}, 2, {},
        "varnel: missing.txt: No such file or directory\n");
    row("sort to -, standard output", {"sort", "-o", "-", "bad.txt"}, {}, 0, "a\nb\n");
    // Most likely an unset variable; standard output in its place would hide that.
    row("sort to an empty name", {"sort", "-o", "", "bad.txt"}, {}, 2, {},
        "varnel: OUTPUT is empty\nTry 'varnel sort --help' for more information.\n");
    row("sort onto a folder", {"sort", "-o", ".", "bad.txt"}, {}, 2, {},
        "varnel: .: Is a directory\n");
}

void TestCommandLine::commands() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    const bool display = QTest::currentDataTag() != QByteArrayView("window without a display");
    const Run result = run(arguments, input, m_folder->path(), -1, display);
    QVERIFY2(matches(result.out, out), result.out.constData());
    QVERIFY2(matches(result.err, err), result.err.constData());
    QCOMPARE(result.status, status);
}

void TestCommandLine::lineRule() {
    // Every case of the window's reader, read by the program from a file and from a pipe.
    QFETCH(QByteArray, bytes);
    writeFile(m_folder->filePath("list.txt"), bytes);
    const QStringList lines = textFileLines(bytes);
    // The sort keeps the file's encoding (tst_sortbytes looks at the bytes): read back, its
    // lines are the file's in correct order.
    const Run sorted = run({"sort", "list.txt"}, {}, m_folder->path());
    QCOMPARE(textFileLines(sorted.out), inCorrectOrder(lines));
    QCOMPARE(startsWithCrLf(sorted.out), startsWithCrLf(bytes));
    const Run checked = run({"check", "--lines"}, bytes, m_folder->path());
    QCOMPARE(checked.out, joined(outOfOrder(lines), "\n"));
    QCOMPARE(checked.status, outOfOrder(lines).isEmpty() ? 0 : 1);
}

void TestCommandLine::decidedPastTheFirstBlock_data() {
    QTest::addColumn<bool>("pipe");
    QTest::addColumn<QByteArray>("lines"); // repeated for megabytes
    QTest::addColumn<QByteArray>("tail");
    const QByteArray feteEte = "f\xc3\xaate\n\xc3\xa9t\xc3\xa9\n";
    QTest::newRow("file, a bad byte at the end") << false << feteEte << QByteArray("na\xefve\n");
    QTest::newRow("pipe, a bad byte at the end") << true << feteEte << QByteArray("na\xefve\n");
    QTest::newRow("file, UTF-8 to the end") << false << feteEte << QByteArray("na\xc3\xafve\n");
    // U+011A above U+010A in UTF-8; the same letter in two cases in Windows-1252.
    QTest::newRow("file, in order once decided")
        << false << QByteArray("\xc4\x9a\n\xc4\x8a\n") << QByteArray("\xc4\x9a\xff\n");
}

void TestCommandLine::decidedPastTheFirstBlock() {
    // Megabytes of lines out of order in valid UTF-8, more than is read at once, and
    // reports on them more than are kept in memory, then the tail: what is reported, and
    // sorted, must be what the whole file's encoding finds.
    QFETCH(bool, pipe);
    QFETCH(QByteArray, lines);
    QFETCH(QByteArray, tail);
    const QByteArray bytes = lines.repeated((3 << 20) / lines.size()) + tail;
    writeFile(m_folder->filePath("list.txt"), bytes);
    const Run checked = pipe ? run({"check"}, bytes, m_folder->path())
                             : run({"check", "list.txt"}, {}, m_folder->path());
    const QByteArray expected = reportOf(pipe ? "-" : "list.txt", textFileLines(bytes));
    QCOMPARE(checked.out, expected);
    QCOMPARE(checked.err, QByteArray());
    QCOMPARE(checked.status, expected.isEmpty() ? 0 : 1);
    const Run sorted = pipe ? run({"sort"}, bytes, m_folder->path())
                            : run({"sort", "list.txt"}, {}, m_folder->path());
    QCOMPARE(textFileLines(sorted.out), inCorrectOrder(textFileLines(bytes)));
}

void TestCommandLine::sortInPlace_data() {
    QTest::addColumn<qint64>("fileSizeLimit"); // -1: none
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QByteArray>("err");
    QTest::newRow("onto its own input")
        << qint64(-1) << 0 << QByteArray("alpha\r\nApple\r\nbeta\r\npear\r\n") << QByteArray();
    QTest::newRow("a failure while writing keeps the old file")
        << qint64(10) << 2 << QByteArray("pear\r\nApple\r\n")
        << QByteArray("varnel: list.txt: File too large\n");
}

void TestCommandLine::sortInPlace() {
    QFETCH(qint64, fileSizeLimit);
    QFETCH(int, status);
    QFETCH(QByteArray, contents);
    QFETCH(QByteArray, err);
    writeFile(m_folder->filePath("list.txt"), "pear\r\nApple\r\n");
    const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QFile::setPermissions(m_folder->filePath("list.txt"), mode);
    const Run sorted =
        run({"sort", "-o", "list.txt", "list.txt", "ok.txt"}, {}, m_folder->path(), fileSizeLimit);
    QCOMPARE(sorted.err, err);
    QCOMPARE(sorted.status, status);
    QCOMPARE(contentsOf(m_folder->filePath("list.txt")), contents);
    // The file kept its permissions: owner, group, others (not the caller's own view of them).
    QCOMPARE(QFile::permissions(m_folder->filePath("list.txt")) & 0x7077, mode);
    // Nothing half-written is left beside it.
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"bad.txt", "crlf.txt", "list.txt", "ok.txt"}));
}

void TestCommandLine::standardOutputThatFails_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output"); // empty: closed
    QTest::addColumn<QByteArray>("err");
    // Regression: the number of the closed stream went to a descriptor of Qt's own, and the
    // report said "Invalid argument".
    QTest::newRow("check, closed") << QStringList{"check", "bad.txt"} << QString()
                                   << QByteArray("varnel: standard output: Bad file descriptor\n");
    // Regression: help and version ended with 0 whatever became of them.
    QTest::newRow("version, full")
        << QStringList{"--version"} << "/dev/full"
        << QByteArray("varnel: standard output: No space left on device\n");
    QTest::newRow("help, closed") << QStringList{"check", "--help"} << QString()
                                  << QByteArray("varnel: standard output: Bad file descriptor\n");
}

void TestCommandLine::standardOutputThatFails() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, output);
    QFETCH(QByteArray, err);
    QProcess program;
    program.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/varnel"));
    program.setArguments(arguments);
    program.setWorkingDirectory(m_folder->path());
    if (!output.isEmpty() && !QFile::exists(output))
        QSKIP("This system has no such device.");
    if (output.isEmpty())
        program.setChildProcessModifier([] { ::close(STDOUT_FILENO); });
    else
        program.setStandardOutputFile(output);
    program.start();
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.readAllStandardError(), err);
    QCOMPARE(program.exitCode(), 2);
}

// Regression: a named pipe (or a device) given as OUTPUT was replaced by a plain file.
void TestCommandLine::sortIntoAPipe() {
    const QByteArray pipe = QFile::encodeName(m_folder->filePath("pipe"));
    QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
    const int reader = ::open(pipe.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(reader >= 0);
    const Run sorted = run({"sort", "-o", "pipe", "bad.txt"}, {}, m_folder->path());
    char got[16] = {};
    const ssize_t read = ::read(reader, got, sizeof got);
    ::close(reader);
    QCOMPARE(sorted.status, 0);
    QCOMPARE(QByteArray(got, int(std::max<ssize_t>(read, 0))), QByteArray("a\nb\n"));
    struct stat status;
    QVERIFY(::stat(pipe.constData(), &status) == 0 && S_ISFIFO(status.st_mode));
}

void TestCommandLine::sortOntoAGivenStreamsFile_data() {
    QTest::addColumn<QString>("output");
    // Regression: -o /dev/stdout replaced the file the shell had sent standard output to,
    // so what was written there before and after was lost.
    QTest::newRow("standard output") << "/dev/stdout";
    QTest::newRow("standard error") << "/dev/stderr";
}

void TestCommandLine::sortOntoAGivenStreamsFile() {
    QFETCH(QString, output);
    const QString file = m_folder->filePath("out.txt");
    writeFile(file, "before\n");
    QProcess program;
    program.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/varnel"));
    program.setArguments({"sort", "-o", output, "bad.txt"});
    program.setWorkingDirectory(m_folder->path());
    if (output.endsWith(u"stdout"))
        program.setStandardOutputFile(file, QIODevice::Append);
    else
        program.setStandardErrorFile(file, QIODevice::Append);
    program.start();
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(contentsOf(file), QByteArray("before\na\nb\n"));
}

void TestCommandLine::windowArguments_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("files"); // what the window loads
    QTest::newRow("none") << QStringList{"varnel"} << QStringList{};
    QTest::newRow("files in order")
        << QStringList{"varnel", "b.txt", "a.txt"} << QStringList{"b.txt", "a.txt"};
    QTest::newRow("the window system's own options pass")
        << QStringList{"varnel", "-style", "fusion", "a.txt", "-reverse"} << QStringList{"a.txt"};
    QTest::newRow("a file named like an option")
        << QStringList{"varnel", "--", "-a.txt"} << QStringList{"-a.txt"};
}

void TestCommandLine::windowArguments() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, files);
    const cli::Invocation call = cli::parseCommandLine(arguments);
    QCOMPARE(call.action, cli::Invocation::Action::OpenWindow);
    QCOMPARE(call.files, files);
}

void TestCommandLine::windowOpensWithFiles() {
    writeFile(m_folder->filePath("a.txt"), "alpha\nbeta\n");
    ScriptedUserInterface ui;
    MainWindow window(&ui, m_folder->path());
    window.loadFiles({m_folder->filePath("a.txt"), m_folder->filePath("missing.txt"),
                      m_folder->filePath("crlf.txt")});
    QCOMPARE(itemsOf(window.state().input()), (QStringList{"alpha", "beta", "zeta", "Eta"}));
    QCOMPARE(ui.messageTexts(), QStringList{"File not found"});
}

// Regression: a FILE whose name is not valid UTF-8 could not be opened ("No such file").
void TestCommandLine::fileNamesKeepTheirBytes() {
    const QByteArray name = QFile::encodeName(m_folder->path()) + "/bad\xffname.txt";
    const int made = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    QVERIFY(made >= 0);
    ::close(made);
    QByteArray program("varnel"), command("check");
    QByteArray file = name;
    char* argv[] = {program.data(), command.data(), file.data()};
    const cli::Invocation call = cli::parseCommandLine(cli::argumentsOf(3, argv));
    QCOMPARE(call.files.size(), 1);
    QCOMPARE(encodeFileName(call.files.first()), name);
    const auto remove = qScopeGuard([&name] { ::unlink(name.constData()); }); // Qt cannot name it
    QVERIFY(cli::InputFile(call.files.first()).fd() >= 0);
}

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
