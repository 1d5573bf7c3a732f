#pragma once

#include <QString>

namespace varnel {

// Why the check lists a pair that "Show Correct Order" keeps as it is: the check compares
// lower-cased characters by their code, where an accented letter comes after z, and the
// collation files it with its base letter. For `upper` above `lower`, a note such as
// "é sorts after f by code; Show Correct Order puts it with e"; empty when the collation
// too puts `upper` after `lower`, or when the check does not.
QString codeOrderNote(const QString& upper, const QString& lower);

} // namespace varnel
