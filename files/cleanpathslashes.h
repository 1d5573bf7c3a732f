#pragma once

#include <QChar>
#include <QString>

namespace varnel {

// Cleans a path joined from a folder and a name: every doubled separator becomes one, in
// one left-to-right pass without overlap (three become two, four become two). A path that
// starts with the separator keeps a prefix of its own: two backslashes (a network path) for
// "\", one slash for "/", since there is no network-path prefix there.
QString cleanPathSlashes(const QString& path, QChar separator);

} // namespace varnel
