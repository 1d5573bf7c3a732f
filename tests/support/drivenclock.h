#pragma once

#include "core/commandprogress.h"

#include <QStringList>

namespace varnel::testing {

// A clock the test moves by hand, for the progress's half-second threshold without waits.
inline CommandProgress::Clock::time_point fakeNow;
inline CommandProgress::Clock::time_point readFakeNow() {
    return fakeNow;
}

// `count` lines, each sorting after the next: every pair out of order.
inline QStringList descending(int count) {
    QStringList lines;
    for (int i = count; i > 0; --i)
        lines.append(QStringLiteral("line %1").arg(i, 6, 10, QLatin1Char('0')));
    return lines;
}

} // namespace varnel::testing
