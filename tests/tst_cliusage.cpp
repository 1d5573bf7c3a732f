// The command line's front door: usage errors, mistyped commands, a display that cannot be
// reached, and the table of options that the help and the manual page agree with.

#include "cli/commandline.h"
#include "cli/options.h"
#include "tests/support/programrun.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace varnel;
using namespace varnel::testing;

namespace {

using Run = ProgramRun;

// The real program in `folder`, without a display unless `environment` ("NAME=value")
// gives one.
Run run(const QStringList& arguments, const QString& folder, const QStringList& environment = {},
        const QByteArray& input = {}) {
    ProgramCall call{arguments, folder, input};
    call.environment =
        QStringList{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"} +
        environment;
    call.waitMs = 20000;
    return runProgram(call);
}

// The plain text of a manual page's section: font changes, quotes and line breaks of the
// man macros resolved, one string for each line the page breaks with `.br`.
QStringList manualSection(const QString& page, const QString& section) {
    QStringList lines{QString()};
    bool inside = false;
    for (const QString& line : page.split(u'\n')) {
        if (line.startsWith(QStringLiteral(".SH "))) {
            inside = line.mid(4).remove(u'"') == section;
            continue;
        }
        if (!inside)
            continue;
        if (line == QStringLiteral(".br")) {
            lines.append(QString());
            continue;
        }
        // `.B a b` keeps its blanks; `.RB [ \-o ]` and the like join their words.
        static const QRegularExpression macro(QStringLiteral("^\\.([BIR]{1,2}) ?(.*)$"));
        const QRegularExpressionMatch match = macro.match(line);
        QString text = match.hasMatch() ? match.captured(2) : line;
        if (match.hasMatch() && match.captured(1).size() == 2) {
            static const QRegularExpression word(QStringLiteral("\"([^\"]*)\"|(\\S+)"));
            QString joined;
            for (auto it = word.globalMatch(text); it.hasNext();) {
                const QRegularExpressionMatch w = it.next();
                joined += w.hasCaptured(1) ? w.captured(1) : w.captured(2);
            }
            text = joined;
        }
        text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
        text.remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]")));
        QString& current = lines.last();
        current += (current.isEmpty() ? QString() : QStringLiteral(" ")) + text;
    }
    lines.removeAll(QString());
    return lines;
}

QString dashed(const QString& name) {
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

QString manualPage() {
    QFile file(QStringLiteral(VARNEL_SOURCE_DIR "/packaging/varnel.1"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestCliUsage : public QObject {
    Q_OBJECT
private slots:
    void init();
    void usageErrors_data();
    void usageErrors();
    void valueOptionsGivenTwice();
    void manualAgreesWithTheTable();
    void helpShowsTheTable_data();
    void helpShowsTheTable();
    void checkEscapesOnlyControls_data();
    void checkEscapesOnlyControls();

private:
    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestCliUsage::init() {
    m_folder = std::make_unique<QTemporaryDir>();
    writeFile(m_folder->filePath("list.txt"), "b\na\n");
    writeFile(m_folder->filePath("notes"), "b\na\n");
    QVERIFY(QDir(m_folder->path()).mkdir(QStringLiteral("runtime")));
}

void TestCliUsage::usageErrors_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QByteArray>("err");
    const auto row = [](const char* name, const QStringList& arguments,
                        const QStringList& environment, const QByteArray& err) {
        QTest::newRow(name) << arguments << environment << err;
    };
    const QByteArray tryHelp = "Try 'varnel --help' for more information.\n";
    const QByteArray trySort = "Try 'varnel sort --help' for more information.\n";
    row("unknown option", {"--frobnicate", "list.txt"}, {},
        "varnel: Unknown option 'frobnicate'.\n" + tryHelp);
    row("unknown option of check", {"check", "--frobnicate"}, {},
        "varnel: Unknown option 'frobnicate'.\nTry 'varnel check --help' for more information.\n");
    row("-o twice", {"sort", "-o", "a", "-o", "b", "list.txt"}, {},
        "varnel: -o/--output is given twice\n" + trySort);
    row("-o and --output", {"sort", "--output=a", "-o", "b", "list.txt"}, {},
        "varnel: -o/--output is given twice\n" + trySort);
    row("missing value", {"sort", "list.txt", "-o"}, {},
        "varnel: Missing value after '-o'.\n" + trySort);
    // The editor sends the documents: a FILE is most likely meant for another command.
    row("a FILE for lsp", {"lsp", "list.txt"}, {},
        "varnel: lsp takes no FILE: the editor sends the documents\nTry 'varnel lsp --help' for "
        "more information.\n");
    row("a mistyped command", {"chek", "list.txt"}, {":0"},
        "varnel: 'chek' is not a varnel command (see 'varnel --help')\n");
    row("help of no command", {"help", "chek"}, {},
        "varnel: 'chek' is not a varnel command (see 'varnel --help')\n");
    // Named like a command yet there: the window opens it, here to find no display.
    row("a file named like a word", {"notes"}, {"DISPLAY=:55"},
        "varnel: cannot open display :55\n");
    row("a display that is not there", {"list.txt"}, {"DISPLAY=:55"},
        "varnel: cannot open display :55\n");
    row("xcb asked for", {"list.txt"}, {"DISPLAY=:55", "QT_QPA_PLATFORM=xcb"},
        "varnel: cannot open display :55\n");
    row("-platform over QT_QPA_PLATFORM", {"-platform", "xcb", "list.txt"},
        {"DISPLAY=:55", "QT_QPA_PLATFORM=offscreen"}, "varnel: cannot open display :55\n");
    row("a Wayland display that is not there", {"list.txt"},
        {"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=wayland-55", "XDG_RUNTIME_DIR=runtime"},
        "varnel: cannot connect to Wayland display wayland-55\n");
    row("only a Wayland display, not there", {"list.txt"},
        {"WAYLAND_DISPLAY=wayland-55", "XDG_RUNTIME_DIR=runtime"},
        "varnel: cannot connect to Wayland display wayland-55\n");
    row("neither display answers", {"list.txt"},
        {"DISPLAY=:55", "WAYLAND_DISPLAY=wayland-55", "XDG_RUNTIME_DIR=runtime"},
        "varnel: cannot open display :55\n");
}

void TestCliUsage::usageErrors() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(QByteArray, err);
    if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X55")))
        QSKIP("This machine has a display :55.");
    for (QString& setting : environment)
        setting.replace(QStringLiteral("=runtime"), u'=' + m_folder->filePath("runtime"));
    const Run result = run(arguments, m_folder->path(), environment);
    QCOMPARE(result.err, err);
    QCOMPARE(result.out, QByteArray());
    QCOMPARE(result.status, 2);
    // Nothing written on the way.
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), (QStringList{"list.txt", "notes"}));
}

void TestCliUsage::valueOptionsGivenTwice() {
    // Every option with a value, as the table will grow.
    for (const cli::CommandRow& command : cli::commandTable()) {
        for (const cli::OptionRow& option : command.options) {
            if (option.valueName.isEmpty())
                continue;
            QStringList arguments{"varnel"};
            if (!command.name.isEmpty())
                arguments.append(command.name);
            for (const QString& name : option.names)
                arguments << dashed(name) << QStringLiteral("x");
            if (option.names.size() == 1)
                arguments << arguments.mid(arguments.size() - 2);
            const cli::Invocation call = cli::parseCommandLine(arguments);
            QCOMPARE(call.action, cli::Invocation::Action::Refuse);
            QVERIFY2(call.message.contains(QStringLiteral("given twice")),
                     qPrintable(call.message));
        }
    }
}

void TestCliUsage::manualAgreesWithTheTable() {
    const QString page = manualPage();
    QVERIFY(!page.isEmpty());
    QCOMPARE(manualSection(page, QStringLiteral("SYNOPSIS")), cli::synopsis());
    // Every option is described, by every name.
    for (const cli::CommandRow& command : cli::commandTable())
        for (const cli::OptionRow& option : command.options)
            for (const QString& name : option.names)
                QVERIFY2(page.contains(QString(dashed(name)).replace(u'-', QStringLiteral("\\-"))),
                         qPrintable(name));
}

void TestCliUsage::helpShowsTheTable_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("command");
    QTest::newRow("the window's") << QStringList{"--help"} << QString();
    QTest::newRow("check") << QStringList{"check", "--help"} << "check";
    QTest::newRow("sort") << QStringList{"sort", "-h"} << "sort";
    QTest::newRow("help") << QStringList{"help"} << QString();
    QTest::newRow("help sort") << QStringList{"help", "sort"} << "sort";
}

void TestCliUsage::helpShowsTheTable() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, command);
    const Run result = run(arguments, m_folder->path());
    QCOMPARE(result.status, 0);
    const QString help = QString::fromUtf8(result.out);
    const cli::CommandRow* row = cli::findCommand(command);
    QVERIFY(row);
    const QStringList usage =
        command.isEmpty() ? cli::synopsis() : QStringList{cli::synopsisOf(*row)};
    QVERIFY2(help.startsWith(QStringLiteral("Usage: ") + usage.join(QStringLiteral("\n       ")) +
                             QStringLiteral("\n\n")),
             qPrintable(help));
    for (const cli::OptionRow& option : row->options)
        QVERIFY2(help.contains(dashed(option.names.last())), qPrintable(option.names.last()));
    // The window's help lists the commands, and only it.
    for (const cli::CommandRow& other : cli::commandTable())
        if (!other.name.isEmpty())
            QCOMPARE(help.contains(QRegularExpression(
                         QStringLiteral("\n  %1 +%2\n")
                             .arg(other.name, QRegularExpression::escape(other.summary)))),
                     command.isEmpty());
}

void TestCliUsage::checkEscapesOnlyControls_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("out");
    // U+009F is the last control C cannot write as \u; U+00A0 is the first character
    // printed as itself.
    QTest::newRow("no-break space as itself")
        << QByteArray("b\xc2\xa0x\na\n")
        << QByteArray("-:1: \"b\xc2\xa0x\" sorts after \"a\" on line 2\n");
    QTest::newRow("the last control escaped")
        << QByteArray("b\xc2\x9fx\na\n")
        << QByteArray("-:1: \"b\\302\\237x\" sorts after \"a\" on line 2\n");
    QTest::newRow("no-break space in the line below")
        << QByteArray("b\na\xc2\xa0\n")
        << QByteArray("-:1: \"b\" sorts after \"a\xc2\xa0\" on line 2\n");
}

void TestCliUsage::checkEscapesOnlyControls() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, out);
    const Run result = run({"check"}, m_folder->path(), {}, input);
    QCOMPARE(result.out, out);
    QCOMPARE(result.status, 1);
}

QTEST_GUILESS_MAIN(TestCliUsage)
#include "tst_cliusage.moc"
