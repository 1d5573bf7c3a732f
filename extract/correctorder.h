#pragma once

#include <QCollator>
#include <QStringView>

namespace varnel {

class WindowState;

// The collation of "Show Correct Order": case-insensitive, locale-aware, for the user's
// locale. Under the C or POSIX locale (containers, CI) English collation stands in, so an
// accented letter still sorts with its base letter.
QCollator makeCorrectOrderCollator();
int CorrectOrderCompare(QStringView a, QStringView b);

// "Show Correct Order": fills the results list, in sorted mode, with the input lines.
void PushButton5_Click(WindowState& form);

} // namespace varnel
