#pragma once

#include <QString>

#include <functional>

namespace varnel {

class ColumnTable;

// The clipboard text of a table: one line per item, each cell padded with blanks to its
// column's widest cell, cells joined by a tab, blanks (not tabs) at the end of the line
// dropped, and CR LF after every line. `yield` runs once per item and cell, also while
// the columns before the last are measured, so the caller can let the window breathe; cells are read at that moment, and a cell
// that went missing meanwhile throws out of here.
QString clipboardText(const ColumnTable& table, const std::function<void()>& yield);

} // namespace varnel
