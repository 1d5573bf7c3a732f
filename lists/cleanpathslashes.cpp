#include "cleanpathslashes.h"

namespace varnel {

namespace {

QString undoubled(QString text, QChar separator) {
    // QString::replace scans left to right and never looks at what it put in, which is
    // the one-pass rule.
    return text.replace(QString(2, separator), QString(separator));
}

} // namespace

QString cleanPathSlashes(const QString& path, QChar separator) {
    if (!path.startsWith(separator))
        return undoubled(path, separator);
    qsizetype rest = 1;
    while (rest < path.size() && path.at(rest) == separator)
        ++rest;
    const qsizetype prefix = separator == u'\\' ? 2 : 1;
    return QString(prefix, separator) + undoubled(path.mid(rest), separator);
}

} // namespace varnel
