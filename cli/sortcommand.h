#pragma once

#include "order/lineorder.h"

#include <QString>
#include <QStringList>

namespace varnel::cli {

struct SortOptions {
    LineOrder order;      // "Show Correct Order"'s unless asked otherwise
    bool unique = false;  // of lines the order calls equal, the first only
    QString output;       // empty: standard output
    bool inPlace = false; // each FILE sorted into itself
    bool blocks = false;  // only the sorted blocks marked in each file, the rest as it is
};

// "varnel sort": all lines of the FILEs in order, each line's bytes as they came, to standard
// output or, when an output is named, in place of that file (which may be one of the FILEs).
// Returns the exit status.
int runSort(const QStringList& files, const SortOptions& options);

} // namespace varnel::cli
