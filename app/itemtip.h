#pragma once

#include <QModelIndex>
#include <QString>

namespace varnel {

class LineListModel;
class WindowState;

// An item's tooltip: a line cut for display in full (or its first 10,000 characters and its
// length), what the list says of the item, then the list's `hint`.
QString itemTip(WindowState& state, const LineListModel& list, const QModelIndex& index,
                const QString& hint);

} // namespace varnel
