#pragma once

#include <QStringList>

namespace varnel::cli {

// "varnel check": every line of each FILE that sorts after the line below it, as
// "FILE:LINE: "TEXT" sorts after "NEXT" on line LINE+1" or, with `linesOnly`, the lines
// alone as the window lists them. Returns the exit status.
int runCheck(const QStringList& files, bool linesOnly);

} // namespace varnel::cli
