#pragma once

#include <QStringView>

namespace varnel {

// True when `upper`, lower-cased, is strictly greater than `lower`, lower-cased, comparing
// UTF-16 code units. Lower-casing is the simple per-character mapping, so lengths never
// change; no locale rules apply, on purpose: this is the order the lists are checked in.
bool lineSortsAfter(QStringView upper, QStringView lower);

} // namespace varnel
