#include "options.h"

namespace varnel::cli {

namespace {

const QString programName = QStringLiteral("varnel");
constexpr qsizetype HelpWidth = 79;

OptionRow helpRow() {
    return {{QStringLiteral("h"), QStringLiteral("help")},
            {},
            QStringLiteral("Shows this help."),
            true};
}

QList<CommandRow> makeTable() {
    CommandRow window;
    window.description = QStringLiteral(
        "Finds the lines of a list that sort after the line just below them, compared\n"
        "without regard to letter case. Opens the window, with the FILEs loaded into the\n"
        "input list as \"Load Text From File\" loads them.");
    window.files = QStringLiteral("Text files to load.");
    window.options = {helpRow(),
                      {{QStringLiteral("v"), QStringLiteral("version")},
                       {},
                       QStringLiteral("Shows the version."),
                       true}};

    const auto orderRow = [](const QString& byDefault) {
        return OptionRow{
            {QStringLiteral("order")},
            QStringLiteral("ORDER"),
            QStringLiteral("The order lines are compared in: ORDER is code, as \"Start "
                           "Extracting Lines\" compares (lower-cased, by "
                           "character code, the same on every machine), or locale, "
                           "as \"Show Correct Order\" sorts (the language rules "
                           "of LC_ALL, LC_COLLATE or LANG). Default: %1.")
                .arg(byDefault)};
    };
    const OptionRow numeric{{QStringLiteral("numeric")},
                            {},
                            QStringLiteral("Compares runs of digits by their value: item9 "
                                           "before item10.")};

    CommandRow check;
    check.name = QStringLiteral("check");
    check.summary = QStringLiteral("reports every line out of order, for scripts and CI");
    check.description = QStringLiteral(
        "Reports every line that sorts after the line just below it, compared without regard\n"
        "to letter case as \"Start Extracting Lines\" compares them unless --order says\n"
        "otherwise, one per line:\n"
        "  FILE:LINE: \"TEXT\" sorts after \"NEXT\" on line LINE+1\n"
        "Each FILE is checked on its own; none, or -, reads standard input.\n"
        "Exit status: 0 all in order, 1 some line out of order (or repeated, with --unique),\n"
        "2 a file could not be read.");
    check.files =
        QStringLiteral("Text files: UTF-8, UTF-16 with a byte-order mark, or Windows-1252.");
    check.options = {
        helpRow(),
        {{QStringLiteral("lines")},
         {},
         QStringLiteral("Prints only the lines out of order, one per line, as the window lists "
                        "them: the short form of --format=lines.")},
        orderRow(QStringLiteral("code")),
        numeric,
        {{QStringLiteral("unique")},
         {},
         QStringLiteral("Also reports a line equal, in the order, to the line below it: "
                        "FILE:LINE: \"TEXT\" repeats on line LINE+1.")},
        {{QStringLiteral("format")},
         QStringLiteral("FORMAT"),
         QStringLiteral(
             "How findings are written: FORMAT is gnu (the default, as above), lines, json "
             "(JSON Lines, an object a finding), github (workflow commands that "
             "annotate the lines) or sarif (a SARIF 2.1.0 log).")},
        {{QStringLiteral("q"), QStringLiteral("quiet")},
         {},
         QStringLiteral("Prints no finding: the exit status alone answers.")},
        {{QStringLiteral("blocks")},
         {},
         QStringLiteral("Checks only the sorted blocks marked in each FILE (from a line "
                        "holding \"varnel: sorted\" to one holding \"varnel: end\"), each "
                        "group of items on its own; a marker that cannot be followed is a "
                        "finding.")}};

    CommandRow sort;
    sort.name = QStringLiteral("sort");
    sort.summary = QStringLiteral("writes all lines in correct order");
    sort.description = QStringLiteral(
        "Writes all lines of the FILEs in correct order, the order of \"Show Correct Order\"\n"
        "unless --order says otherwise. Lines that compare equal keep the order they came in.\n"
        "Each line keeps its bytes: inputs in one encoding give output in it, with its mark,\n"
        "every line ending as the first one does; inputs that differ give UTF-8 with LF.\n"
        "None, or -, reads standard input. Exit status: 0 done, 2 a file could not be read\n"
        "or written. Then nothing is written and OUTPUT stays as it was; with --in-place only\n"
        "that FILE stays as it was, and the others are sorted.");
    sort.files = QStringLiteral("Text files.");
    sort.options = {
        helpRow(),
        orderRow(QStringLiteral("locale")),
        numeric,
        {{QStringLiteral("unique")},
         {},
         QStringLiteral("Keeps only the first of lines that compare equal in the order.")},
        {{QStringLiteral("o"), QStringLiteral("output")},
         QStringLiteral("OUTPUT"),
         QStringLiteral("Writes to OUTPUT, which may be one of the FILEs, instead of "
                        "standard output (-). A file is replaced only once every "
                        "line is written.")},
        {{QStringLiteral("in-place")},
         {},
         QStringLiteral("Sorts each FILE into itself, one by one, as -o FILE FILE does.")},
        {{QStringLiteral("blocks")},
         {},
         QStringLiteral("Sorts only the items of the sorted blocks marked in each FILE, "
                        "comments and continued lines with them; every other byte stays. "
                        "A FILE with nothing to move is not written.")}};
    CommandRow lsp;
    lsp.name = QStringLiteral("lsp");
    lsp.summary = QStringLiteral("serves editors: shows lines out of order as you type");
    lsp.description = QStringLiteral(
        "Serves an editor over the Language Server Protocol on standard input and output:\n"
        "the lines out of order in the sorted blocks of each open document (as check --blocks\n"
        "finds them) become warnings, and code actions and formatting sort the blocks (as\n"
        "sort --blocks --order=code writes them). The editor starts it; it reads and writes\n"
        "no file.");
    lsp.options = {helpRow()};
    return {window, check, sort, lsp};
}

QString dashed(const QString& name) {
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

QString commandWords(const CommandRow& command) {
    return command.name.isEmpty() ? programName : programName + u' ' + command.name;
}

// The option as the synopsis shows it: by its first name, with its value.
QString synopsisForm(const OptionRow& option) {
    QString form = dashed(option.names.first());
    if (!option.valueName.isEmpty())
        form += u' ' + option.valueName;
    return u'[' + form + u']';
}

// The option as the help lists it: "-o, --output=OUTPUT".
QString helpForm(const OptionRow& option) {
    QStringList names;
    for (const QString& name : option.names)
        names.append(dashed(name));
    // Long names line up whether or not a short one comes first.
    QString form = (option.names.first().size() == 1 ? QString() : QStringLiteral("    ")) +
                   names.join(QStringLiteral(", "));
    if (!option.valueName.isEmpty())
        form += (option.names.last().size() == 1 ? u' ' : u'=') + option.valueName;
    return form;
}

// `text` in lines of at most HelpWidth, each after `indent` blanks but the first.
QString wrapped(const QString& text, qsizetype indent) {
    QString out;
    qsizetype column = indent;
    for (const QString& word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (column > indent && column + 1 + word.size() > HelpWidth) {
            out += u'\n' + QString(indent, u' ');
            column = indent;
        } else if (column > indent) {
            out += u' ';
            ++column;
        }
        out += word;
        column += word.size();
    }
    return out;
}

// Rows of two columns, the second lined up and wrapped.
QString twoColumns(const QList<std::pair<QString, QString>>& rows) {
    qsizetype width = 0;
    for (const auto& [left, right] : rows)
        width = std::max(width, left.size());
    QString out;
    for (const auto& [left, right] : rows)
        out += QStringLiteral("  ") + left.leftJustified(width + 2) + wrapped(right, width + 4) +
               u'\n';
    return out;
}

} // namespace

const QList<CommandRow>& commandTable() {
    static const QList<CommandRow> table = makeTable();
    return table;
}

const CommandRow* findCommand(const QString& name) {
    for (const CommandRow& command : commandTable())
        if (command.name == name)
            return &command;
    return nullptr;
}

QString synopsisOf(const CommandRow& command) {
    QStringList words{commandWords(command)};
    for (const OptionRow& option : command.options)
        if (!option.standsAlone)
            words.append(synopsisForm(option));
    if (!command.files.isEmpty())
        words.append(QStringLiteral("[FILE...]"));
    return words.join(u' ');
}

QStringList synopsis() {
    QStringList lines;
    for (const CommandRow& command : commandTable())
        lines.append(synopsisOf(command));
    lines.append(programName + QStringLiteral(" help [COMMAND]"));
    // The window's options that stand alone, the help and the version, on the last line.
    QStringList alone;
    for (const OptionRow& option : commandTable().first().options)
        if (option.standsAlone)
            alone.append(dashed(option.names.last()));
    lines.append(programName + u' ' + alone.join(QStringLiteral(" | ")));
    return lines;
}

QString helpOf(const CommandRow& command) {
    const bool window = command.name.isEmpty();
    const QStringList usage = window ? synopsis() : QStringList{synopsisOf(command)};
    QString help = QStringLiteral("Usage: ") + usage.join(QStringLiteral("\n       ")) + u'\n';
    help += u'\n' + command.description + u'\n';
    if (window) {
        QList<std::pair<QString, QString>> commands;
        for (const CommandRow& other : commandTable())
            if (!other.name.isEmpty())
                commands.append({other.name, other.summary});
        help += QStringLiteral("\nCommands, without a window (see varnel help COMMAND):\n") +
                twoColumns(commands);
    }
    QList<std::pair<QString, QString>> options;
    for (const OptionRow& option : command.options)
        options.append({helpForm(option), option.description});
    help += QStringLiteral("\nOptions:\n") + twoColumns(options);
    if (!command.files.isEmpty())
        help += QStringLiteral("\nArguments:\n") +
                twoColumns({{QStringLiteral("FILE"), command.files}});
    return help;
}

QString spelledNames(const OptionRow& option) {
    QStringList names;
    for (const QString& name : option.names)
        names.append(dashed(name));
    return names.join(u'/');
}

} // namespace varnel::cli
