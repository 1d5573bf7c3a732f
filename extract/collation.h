#pragma once

#include <QCollator>
#include <QStringView>

namespace varnel {

// The collation of "Show Correct Order": case-insensitive, locale-aware, for the user's
// locale. Under the C or POSIX locale (containers, CI) English collation stands in, so an
// accented letter still sorts with its base letter.
QCollator makeCorrectOrderCollator();
int compareInCorrectOrder(QStringView a, QStringView b);

} // namespace varnel
