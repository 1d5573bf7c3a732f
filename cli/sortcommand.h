#pragma once

#include <QString>
#include <QStringList>

namespace varnel::cli {

// "varnel sort": all lines of the FILEs in the order of "Show Correct Order", as UTF-8, to
// standard output or, when `output` is not empty, in place of that file (which may be one
// of the FILEs). Returns the exit status.
int runSort(const QStringList& files, const QString& output);

} // namespace varnel::cli
