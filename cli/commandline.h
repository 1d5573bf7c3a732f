#pragma once

#include "checkcommand.h"
#include "sortcommand.h"

#include <QString>
#include <QStringList>

namespace varnel::cli {

// What the command line asks for.
struct Invocation {
    enum class Action { OpenWindow, Check, Sort, Serve, Print, Refuse };
    Action action = Action::OpenWindow;
    QStringList files;
    CheckOptions check;
    SortOptions sort;
    QString message; // Print: for standard output; Refuse: for standard error
};

// Holds the number of a standard stream the program was started without (`cmd >&-`): the
// next file opened would get it, and output meant for the stream would land in that file.
// Held by /dev/null opened the wrong way round, the stream still fails when used ("Bad file
// descriptor"). First thing in main().
void holdClosedStandardStreams();

// The program's arguments, its own name first, as text.
QStringList argumentsOf(int argc, char** argv);

// Reads `arguments`. The window's own Qt options (-style, -platform, ...) pass, as they
// always have.
Invocation parseCommandLine(const QStringList& arguments);

// Runs any action but OpenWindow, without a window, and returns the exit status.
int runCommandLine(const Invocation& invocation);

// OpenWindow: becomes the window's program, varnel-window beside this one, with the same
// arguments. Returns only when that cannot start, with the exit status.
int startWindowProgram(char** argv);

} // namespace varnel::cli
