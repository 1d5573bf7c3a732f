#pragma once

#include <QString>

#include <functional>

namespace varnel {

class ColumnTable;

// The clipboard text of a table: one line per item, each cell padded with blanks to its
// column's widest cell, cells joined by a tab, blanks (not tabs) at the end of the line
// dropped, and CR LF after every line. `yield` runs once per item and cell, also while
// the columns before the last are measured, so the caller can let the window breathe.
// Cells are read at that moment: a caller that yields hands a table that stays as it is
// (a ListSnapshot); of one that changes, a cell that went missing throws out of here.
QString clipboardText(const ColumnTable& table, const std::function<void()>& yield);

} // namespace varnel
