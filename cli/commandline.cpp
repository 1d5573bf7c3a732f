#include "commandline.h"

#include "core/applicationfolder.h"
#include "files/filesystem.h"

#include "checkcommand.h"
#include "sortcommand.h"
#include "streams.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace varnel::cli {

namespace {

using Action = Invocation::Action;

const QString programName = QStringLiteral("varnel");

QCommandLineOption helpOption() {
    return {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help.")};
}

Invocation withMessage(Action action, QString message) {
    Invocation call;
    call.action = action;
    call.message = std::move(message);
    return call;
}

Invocation withFiles(Action action, QStringList files) {
    Invocation call;
    call.action = action;
    call.files = std::move(files);
    return call;
}

// Qt's usage line knows neither the commands nor the program's real name.
QString helpText(const QCommandLineParser& parser, const QString& usage) {
    const QString text = parser.helpText();
    return usage + text.mid(text.indexOf(u'\n'));
}

Invocation refuse(const QCommandLineParser& parser, const QString& usage) {
    return withMessage(Action::Refuse, programName + QStringLiteral(": ") + parser.errorText() +
                                           u'\n' + helpText(parser, usage));
}

Invocation parseCheck(const QStringList& arguments) {
    const QString usage = QStringLiteral("Usage: varnel check [--lines] [FILE...]");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reports every line that sorts after the line just below it, compared without regard\n"
        "to letter case as \"Start Extracting Lines\" compares them, one per line:\n"
        "  FILE:LINE: \"TEXT\" sorts after \"NEXT\" on line LINE+1\n"
        "Each FILE is checked on its own; none, or -, reads standard input.\n"
        "Exit status: 0 all in order, 1 some line out of order, 2 a file could not be read."));
    const QCommandLineOption lines(QStringLiteral("lines"),
                                   QStringLiteral("Prints only the lines out of order, one per "
                                                  "line, as the window lists them."));
    parser.addOptions({helpOption(), lines});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Text files: UTF-8, UTF-16 with a byte-order "
                                                "mark, or Windows-1252."),
                                 QStringLiteral("[FILE...]"));
    if (!parser.parse(arguments))
        return refuse(parser, usage);
    if (parser.isSet(QStringLiteral("help")))
        return withMessage(Action::Print, helpText(parser, usage));
    Invocation call = withFiles(Action::Check, parser.positionalArguments());
    call.linesOnly = parser.isSet(lines);
    return call;
}

Invocation parseSort(const QStringList& arguments) {
    const QString usage = QStringLiteral("Usage: varnel sort [-o OUTPUT] [FILE...]");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes all lines of the FILEs in correct order, the order of \"Show Correct Order\",\n"
        "as UTF-8. Lines end with LF, or with CR LF when the first FILE's first line does.\n"
        "None, or -, reads standard input. Exit status: 0 done, 2 a file could not be read\n"
        "or written; then nothing is written."));
    const QCommandLineOption output(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Writes to OUTPUT, which may be one of the FILEs, instead of standard "
                       "output (-). A file is replaced only once every line is written."),
        QStringLiteral("OUTPUT"));
    parser.addOptions({helpOption(), output});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Text files."),
                                 QStringLiteral("[FILE...]"));
    if (!parser.parse(arguments))
        return refuse(parser, usage);
    if (parser.isSet(QStringLiteral("help")))
        return withMessage(Action::Print, helpText(parser, usage));
    // An empty name is most likely an unset variable: writing to standard output instead
    // would hide that.
    if (parser.isSet(output) && parser.value(output).isEmpty())
        return withMessage(Action::Refuse, programName + QStringLiteral(": OUTPUT is empty\n") +
                                               helpText(parser, usage));
    Invocation call = withFiles(Action::Sort, parser.positionalArguments());
    if (parser.value(output) != u'-')
        call.output = parser.value(output);
    return call;
}

// Options QApplication takes for itself; they reach the window untouched.
void addWindowSystemOptions(QCommandLineParser& parser) {
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
          "geometry", "qwindowicon", "icon", "qwindowtitle", "title", "session", "display", "style",
          "stylesheet", "qmljsdebugger"}) {
        QCommandLineOption option(QString::fromLatin1(name), {}, QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

Invocation parseWindow(const QStringList& arguments) {
    const QString usage = QStringLiteral("Usage: varnel [FILE...]\n"
                                         "       varnel check [--lines] [FILE...]\n"
                                         "       varnel sort [-o OUTPUT] [FILE...]");
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Finds the lines of a list that sort after the line just below them, compared\n"
        "without regard to letter case. Opens the window, with the FILEs loaded into the\n"
        "input list as \"Load Text From File\" loads them.\n"
        "\n"
        "Commands, without a window (see varnel COMMAND --help):\n"
        "  check  reports every line out of order, for scripts and CI\n"
        "  sort   writes all lines in correct order"));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version."));
    parser.addOptions({helpOption(), version});
    addWindowSystemOptions(parser);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Text files to load."),
                                 QStringLiteral("[FILE...]"));
    if (!parser.parse(arguments))
        return refuse(parser, usage);
    if (parser.isSet(QStringLiteral("help")))
        return withMessage(Action::Print, helpText(parser, usage));
    if (parser.isSet(version))
        return withMessage(Action::Print,
                           programName + u' ' + QStringLiteral(VARNEL_VERSION) + u'\n');
    return withFiles(Action::OpenWindow, parser.positionalArguments());
}

void print(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

} // namespace

void holdClosedStandardStreams() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free number is this one, the lower ones being open or held.
            const int held = ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
            if (held >= 0 && held != fd)
                ::close(held);
        }
    }
}

QStringList argumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(decodeFileName(argv[i])); // a FILE's bytes come back as they were
    return arguments;
}

Invocation parseCommandLine(const QStringList& arguments) {
    // The command's name stands where a parser expects the program's.
    const QString command = arguments.value(1);
    if (command == QStringLiteral("check"))
        return parseCheck(arguments.mid(1));
    if (command == QStringLiteral("sort"))
        return parseSort(arguments.mid(1));
    return parseWindow(arguments);
}

int startWindowProgram(char** argv) {
    // Beside this program in a build tree, in its private folder when installed; found from
    // the program as it runs, whatever name it was called by.
    const QString folder =
        applicationFolderBeside(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath());
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/varnel-window"));
    ::execv(path.constData(), argv);
    complain(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(errno)));
    return Trouble;
}

int runCommandLine(const Invocation& invocation) {
    try {
        switch (invocation.action) {
        case Action::Print:
            print(stdout, invocation.message);
            if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
                complain(QStringLiteral("standard output"),
                         QString::fromLocal8Bit(std::strerror(errno)));
                return Trouble;
            }
            return Success;
        case Action::Refuse:
            print(stderr, invocation.message);
            return Trouble;
        case Action::Check:
        {
            CheckOptions options;
            if (invocation.linesOnly)
                options.format = FindingReport::Format::Lines;
            return runCheck(invocation.files, options);
        }
        case Action::Sort:
        {
            SortOptions options;
            options.output = invocation.output;
            return runSort(invocation.files, options);
        }
        case Action::OpenWindow:
            break;
        }
    } catch (const std::bad_alloc&) {
        // Memory running out while sorting still gets a line and a status.
        print(stderr, programName + QStringLiteral(": Cannot allocate memory\n"));
    } catch (const std::exception& e) {
        print(stderr,
              programName + QStringLiteral(": ") + QString::fromLocal8Bit(e.what()) + u'\n');
    }
    return Trouble;
}

} // namespace varnel::cli
