#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace varnel {

// A table's cell, its item and column counted from 1.
using TableCell = std::function<QString(qsizetype item, qsizetype column)>;

// What goes on the clipboard. A list's text takes half the memory as UTF-8 bytes, which is
// also what other programs are handed, so the text is kept that way; a cell with half a
// surrogate pair, which UTF-8 cannot carry, or a text that starts with U+FEFF, which a reader
// of UTF-8 drops as a byte order mark, keeps the whole text as it is instead.
struct ClipboardText {
    QByteArray utf8;
    QString text;
    bool isUtf8 = true;

    QString toString() const { return isUtf8 ? QString::fromUtf8(utf8) : text; }
};

// The clipboard text of a table of `items` items and `columns` columns: one line per item,
// each cell padded with blanks to its column's widest cell (in UTF-16 units), cells joined by
// a tab, blanks (not tabs) at the end of the line dropped, and CR LF after every line.
// `yield` runs once per item and cell, also while the columns before the last are measured,
// so the caller can let the window breathe. Cells are read at that moment: a caller that
// yields hands cells that stay as they are (a ListSnapshot's); of a table that shrinks, the
// Failure a missing cell throws goes out of here.
ClipboardText clipboardText(qsizetype items, qsizetype columns, const TableCell& cell,
                            const std::function<void()>& yield);

} // namespace varnel
