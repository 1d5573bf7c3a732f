#include "cleanpathslashes.h"

namespace varnel {

namespace {

QString undoubled(QString text, QChar separator) {
    // QString::replace scans left to right and never looks at what it put in, which is
    // the one-pass rule.
    return text.replace(QString(2, separator), QString(separator));
}

// A plain scan: a search for a two-character string costs more than the whole path.
bool hasDoubled(QStringView path, QChar separator) {
    for (qsizetype i = 1; i < path.size(); ++i) {
        if (path[i] == separator && path[i - 1] == separator)
            return true;
    }
    return false;
}

} // namespace

QString cleanPathSlashes(const QString& path, QChar separator) {
    // Most paths have nothing to clean, and a dropped folder asks once for every file in it.
    if (!hasDoubled(path, separator) && (separator != u'\\' || !path.startsWith(separator)))
        return path;
    if (!path.startsWith(separator))
        return undoubled(path, separator);
    qsizetype rest = 1;
    while (rest < path.size() && path.at(rest) == separator)
        ++rest;
    const qsizetype prefix = separator == u'\\' ? 2 : 1;
    return QString(prefix, separator) + undoubled(path.mid(rest), separator);
}

} // namespace varnel
