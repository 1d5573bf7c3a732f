#pragma once

#include <QModelIndex>
#include <QString>

namespace varnel {

class LineListModel;
class WindowState;

// What the list says of an item, with the note on why a result is listed where it has one:
// a screen reader's description of the item.
QString itemNote(WindowState& state, const LineListModel& list, const QModelIndex& index);

// An item's tooltip: a line cut for display in full (or its first 10,000 characters and its
// length), what the list says of the item, then the list's `hint`.
QString itemTip(WindowState& state, const LineListModel& list, const QModelIndex& index,
                const QString& hint);

} // namespace varnel
