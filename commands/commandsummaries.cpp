#include "commandsummaries.h"

#include <QLocale>

namespace varnel::summaries {

namespace {

QString count(qint64 n) {
    return QLocale().toString(n);
}

// "1 line", "2 lines"
QString lines(qint64 n) {
    return count(n) + (n == 1 ? QStringLiteral(" line") : QStringLiteral(" lines"));
}

} // namespace

QString checking(qint64 n) {
    return QStringLiteral("Checking %1…").arg(lines(n));
}

QString sorting(qint64 n) {
    return QStringLiteral("Sorting %1…").arg(lines(n));
}

QString checked(qint64 found, qint64 n) {
    if (found > 0)
        return QStringLiteral("%1 of %2 out of order").arg(count(found), lines(n));
    if (n == 1)
        return QStringLiteral("The one line is in order");
    return QStringLiteral("All %1 are in order").arg(lines(n));
}

QString cancelledAt(qint64 line, qint64 n) {
    return QStringLiteral("Cancelled at line %1 of %2").arg(count(line), count(n));
}

QString sorted(qint64 n) {
    return QStringLiteral("%1 in correct order").arg(lines(n));
}

QString sortCancelled(qint64 n) {
    return QStringLiteral("Cancelled sorting %1").arg(lines(n));
}

QString saving(qint64 n) {
    return QStringLiteral("Saving %1…").arg(lines(n));
}

QString saved(qint64 n) {
    return QStringLiteral("Saved %1").arg(lines(n));
}

QString saveCancelledAt(qint64 line, qint64 n) {
    return QStringLiteral("Cancelled at line %1 of %2; the file was left as it was")
        .arg(count(line), count(n));
}

QString copying(qint64 n) {
    return QStringLiteral("Copying %1…").arg(lines(n));
}

QString copied(qint64 n) {
    return QStringLiteral("Copied %1").arg(lines(n));
}

QString exporting(qint64 n) {
    return QStringLiteral("Sending %1 to the spreadsheet…").arg(lines(n));
}

QString finding(qint64 n) {
    return QStringLiteral("Searching %1…").arg(lines(n));
}

QString exported(qint64 n) {
    return QStringLiteral("Sent %1 to the spreadsheet").arg(lines(n));
}

QString exportCancelledAt(qint64 line, qint64 n) {
    return QStringLiteral("Cancelled at line %1 of %2; the spreadsheet was closed")
        .arg(count(line), count(n));
}

QString reading(const QString& fileName) {
    return QStringLiteral("Reading %1…").arg(fileName);
}

QString loading(qint64 n) {
    return QStringLiteral("Loading %1 files…").arg(count(n));
}

QString loaded(qint64 n, qint64 files) {
    return QStringLiteral("Added %1 from %2")
        .arg(lines(n),
             files == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count(files)));
}

QString loadCancelledAt(qint64 file, qint64 files, qint64 n) {
    return QStringLiteral("Cancelled at file %1 of %2; %3 kept")
        .arg(count(file), count(files), lines(n));
}

QString addingDropped() {
    return QStringLiteral("Adding dropped files… %1 so far");
}

QString addedDropped(qint64 n) {
    return QStringLiteral("Added %1")
        .arg(n == 1 ? QStringLiteral("1 path") : QStringLiteral("%1 paths").arg(count(n)));
}

QString droppedCancelled(qint64 n) {
    return QStringLiteral("Cancelled; %1 kept")
        .arg(n == 1 ? QStringLiteral("1 path") : QStringLiteral("%1 paths").arg(count(n)));
}

} // namespace varnel::summaries
