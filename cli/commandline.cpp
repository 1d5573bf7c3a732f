#include "commandline.h"

#include "core/applicationfolder.h"
#include "files/fileexists.h"
#include "files/filesystem.h"

#include "languageserver.h"
#include "options.h"
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

Invocation withMessage(Action action, QString message) {
    Invocation call;
    call.action = action;
    call.message = std::move(message);
    return call;
}

// One line saying what is wrong, and where to look, rather than the whole help.
Invocation usageError(const CommandRow& command, const QString& message) {
    const QString help = command.name.isEmpty()
                             ? QStringLiteral("varnel --help")
                             : QStringLiteral("varnel %1 --help").arg(command.name);
    return withMessage(
        Action::Refuse,
        QStringLiteral("%1: %2\nTry '%3' for more information.\n").arg(programName, message, help));
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

// The order an --order and a --numeric ask for, starting from `order`; what is wrong, if
// anything.
QString readOrder(const QCommandLineParser& parser, LineOrder& order) {
    if (parser.isSet(QStringLiteral("order"))) {
        const QString word = parser.value(QStringLiteral("order"));
        if (word == u"code")
            order.rule = LineOrder::Rule::Code;
        else if (word == u"locale")
            order.rule = LineOrder::Rule::Locale;
        else
            return QStringLiteral("unknown order '%1' (code or locale)").arg(word);
    }
    order.numeric = parser.isSet(QStringLiteral("numeric"));
    return {};
}

QString readCheckOptions(const QCommandLineParser& parser, CheckOptions& options) {
    if (const QString problem = readOrder(parser, options.order); !problem.isEmpty())
        return problem;
    options.unique = parser.isSet(QStringLiteral("unique"));
    options.quiet = parser.isSet(QStringLiteral("quiet"));
    options.blocks = parser.isSet(QStringLiteral("blocks"));
    if (parser.isSet(QStringLiteral("format"))) {
        const QString word = parser.value(QStringLiteral("format"));
        const auto format = FindingReport::formatNamed(word);
        if (!format)
            return QStringLiteral("unknown format '%1' (gnu, lines, json, github or sarif)")
                .arg(word);
        options.format = *format;
    }
    // --lines is the short form of --format=lines.
    if (parser.isSet(QStringLiteral("lines"))) {
        if (parser.isSet(QStringLiteral("format")) &&
            options.format != FindingReport::Format::Lines)
            return QStringLiteral("--lines and --format=%1 ask for two formats")
                .arg(parser.value(QStringLiteral("format")));
        options.format = FindingReport::Format::Lines;
    }
    return {};
}

QString readSortOptions(const QCommandLineParser& parser, const QStringList& files,
                        SortOptions& options) {
    if (const QString problem = readOrder(parser, options.order); !problem.isEmpty())
        return problem;
    options.unique = parser.isSet(QStringLiteral("unique"));
    options.inPlace = parser.isSet(QStringLiteral("in-place"));
    options.blocks = parser.isSet(QStringLiteral("blocks"));
    const bool hasOutput = parser.isSet(QStringLiteral("output"));
    const QString output = parser.value(QStringLiteral("output"));
    if (options.inPlace) {
        if (hasOutput)
            return QStringLiteral("--in-place and -o/--output ask for two places");
        if (files.isEmpty() || files.contains(QStringLiteral("-")))
            return QStringLiteral("--in-place sorts FILEs, not standard input");
    }
    // An empty name is most likely an unset variable: writing to standard output instead
    // would hide that.
    if (hasOutput && output.isEmpty())
        return QStringLiteral("OUTPUT is empty");
    if (output != u'-')
        options.output = output;
    return {};
}

// `arguments` start with the command's name, where a parser expects the program's.
Invocation parseCommand(const CommandRow& command, const QStringList& arguments) {
    const bool window = command.name.isEmpty();
    QCommandLineParser parser;
    if (window) {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        addWindowSystemOptions(parser);
    }
    for (const OptionRow& row : command.options)
        parser.addOption(QCommandLineOption(row.names, row.description, row.valueName));
    if (!parser.parse(arguments))
        return usageError(command, parser.errorText());
    // The last of two values would win unseen: `-o a -o b` is most likely a slip.
    for (const OptionRow& row : command.options) {
        if (!row.valueName.isEmpty() && parser.values(row.names.first()).size() > 1)
            return usageError(command, spelledNames(row) + QStringLiteral(" is given twice"));
    }
    if (parser.isSet(QStringLiteral("help")))
        return withMessage(Action::Print, helpOf(command));
    Invocation call;
    call.files = parser.positionalArguments();
    if (window) {
        if (parser.isSet(QStringLiteral("version")))
            return withMessage(Action::Print,
                               programName + u' ' + QStringLiteral(VARNEL_VERSION) + u'\n');
        call.action = Action::OpenWindow;
    } else if (command.name == QStringLiteral("check")) {
        call.action = Action::Check;
        if (const QString problem = readCheckOptions(parser, call.check); !problem.isEmpty())
            return usageError(command, problem);
    } else if (command.name == QStringLiteral("lsp")) {
        call.action = Action::Serve;
        if (!call.files.isEmpty())
            return usageError(command, QStringLiteral("lsp takes no FILE: the editor sends the "
                                                      "documents"));
    } else {
        call.action = Action::Sort;
        if (const QString problem = readSortOptions(parser, call.files, call.sort);
            !problem.isEmpty())
            return usageError(command, problem);
    }
    return call;
}

// A first argument like `chek` is far more likely a mistyped command than a
// file: one with no folder and no extension that does not exist.
bool looksLikeACommand(const QString& argument) {
    return !argument.isEmpty() && !argument.startsWith(u'-') && !argument.contains(u'/') &&
           !argument.contains(u'.') && !fileExists(argument);
}

void print(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

// `varnel help [COMMAND]`: the help of the command, or the general one.
Invocation parseHelp(const QStringList& arguments) {
    const CommandRow& window = *findCommand(QString());
    if (arguments.size() > 3)
        return usageError(window, QStringLiteral("help takes one COMMAND at most"));
    const QString name = arguments.value(2);
    const CommandRow* command = findCommand(name);
    if (!command)
        return withMessage(
            Action::Refuse,
            QStringLiteral("%1: '%2' is not a varnel command (see 'varnel --help')\n")
                .arg(programName, name));
    return withMessage(Action::Print, helpOf(*command));
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
    const QString first = arguments.value(1);
    if (first == u"help")
        return parseHelp(arguments);
    const CommandRow* command = findCommand(first);
    if (command && !first.isEmpty())
        return parseCommand(*command, arguments.mid(1));
    if (looksLikeACommand(first))
        return withMessage(
            Action::Refuse,
            QStringLiteral("%1: '%2' is not a varnel command (see 'varnel --help')\n")
                .arg(programName, first));
    return parseCommand(*findCommand(QString()), arguments);
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
            return runCheck(invocation.files, invocation.check);
        case Action::Sort:
            return runSort(invocation.files, invocation.sort);
        case Action::Serve:
            return runLanguageServer(STDIN_FILENO, STDOUT_FILENO);
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
