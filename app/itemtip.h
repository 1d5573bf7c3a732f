#pragma once

#include <QModelIndex>
#include <QString>

namespace varnel {

class LineListModel;
class WindowState;

// What the list says of an item, with the note on why a result is listed where it has one:
// a screen reader's description of the item.
QString itemNote(WindowState& state, const LineListModel& list, const QModelIndex& index);

// How much text a tooltip may hold and still fit the screen: characters a row, rows.
struct TipRoom {
    qsizetype columns = 100;
    qsizetype rows = 40;
};

// An item's tooltip: a line cut for display in full, wrapped into rows (from its start, as
// many rows as `room` leaves beside the rest, then its length), what the list says of the
// item, then the list's `hint`.
QString itemTip(WindowState& state, const LineListModel& list, const QModelIndex& index,
                const QString& hint, TipRoom room = {});

} // namespace varnel
