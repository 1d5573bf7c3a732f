#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace varnel::cli {

// One option of a command. Parsing, the help and the manual's synopsis all read these rows,
// so an option is added by adding its row.
struct OptionRow {
    QStringList names;   // the short name first, if any: {"o", "output"}
    QString valueName;   // empty for a switch
    QString description; // one sentence or two, for the help
    // --help and --version stand for the whole command line: the synopsis lists them on a
    // line of their own rather than among a command's brackets.
    bool standsAlone = false;
};

// A command and its options; the window's row has no name.
struct CommandRow {
    QString name;
    QString summary;     // its line in the window's help
    QString description; // the help's paragraph
    QString files;       // what its FILEs are; empty for a command that takes none
    QList<OptionRow> options;
};

// The window's row first, then check, sort and lsp.
const QList<CommandRow>& commandTable();

// The row of the command named `name`, or null; an empty name is the window's.
const CommandRow* findCommand(const QString& name);

// How a command is called: "varnel sort [-o OUTPUT] [FILE...]".
QString synopsisOf(const CommandRow& command);

// Every way the program is called, one a line: the manual's SYNOPSIS in plain text.
QStringList synopsis();

// What `varnel [COMMAND] --help` prints.
QString helpOf(const CommandRow& command);

// The option's names as the user types them: "-o/--output".
QString spelledNames(const OptionRow& option);

} // namespace varnel::cli
