#pragma once

#include <QString>

#include <functional>

namespace varnel {

// A table's cell, its item and column counted from 1.
using TableCell = std::function<QString(qsizetype item, qsizetype column)>;

// The clipboard text of a table of `items` items and `columns` columns: one line per item,
// each cell padded with blanks to its column's widest cell, cells joined by a tab, blanks
// (not tabs) at the end of the line dropped, and CR LF after every line. `yield` runs once
// per item and cell, also while the columns before the last are measured, so the caller can
// let the window breathe. Cells are read at that moment: a caller that yields hands cells
// that stay as they are (a ListSnapshot's); of a table that shrinks, the Failure a missing
// cell throws goes out of here.
QString clipboardText(qsizetype items, qsizetype columns, const TableCell& cell,
                      const std::function<void()>& yield);

} // namespace varnel
