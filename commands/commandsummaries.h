#pragma once

#include <QString>

namespace varnel {

// The words the window shows under a list while a command works and once it has ended,
// counts written the way the user's locale writes them.
namespace summaries {

QString checking(qint64 lines);
QString sorting(qint64 lines);
// "906,040 of 10,000,000 lines out of order", or "All 3 lines are in order".
QString checked(qint64 found, qint64 lines);
// A walk stopped at `line` of `lines`.
QString cancelledAt(qint64 line, qint64 lines);
QString sorted(qint64 lines);
QString sortCancelled(qint64 lines);
QString saving(qint64 lines);
QString saved(qint64 lines);
QString saveCancelledAt(qint64 line, qint64 lines);
QString copying(qint64 lines);
QString copied(qint64 lines);
QString exporting(qint64 lines);
QString finding(qint64 lines);
QString reading(const QString& fileName);
QString loading(qint64 files);
QString loaded(qint64 lines, qint64 files);
// Stopped before reading file `file` of `files`.
QString loadCancelledAt(qint64 file, qint64 files, qint64 lines);
// With a %1 for the count so far.
QString addingDropped();
QString addedDropped(qint64 paths);
QString droppedCancelled(qint64 paths);
QString exported(qint64 lines);
QString exportCancelledAt(qint64 line, qint64 lines);

} // namespace summaries

} // namespace varnel
