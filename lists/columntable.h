#pragma once

#include <QString>

namespace varnel {

// A list seen as a table: column 1 is the item text, further columns its sub-items.
// A command that yields reads a ListSnapshot through it, so that what other commands do to
// the list meanwhile does not reach what it writes.
class ColumnTable {
public:
    virtual ~ColumnTable() = default;
    virtual qsizetype itemCount() const = 0;
    virtual qsizetype columnCount() const = 0;
    virtual QString columnCaption(qsizetype column) const = 0;
    // Throws Failure "Index out of bounds" outside the table.
    virtual QString cell(qsizetype item, qsizetype column) const = 0;
};

} // namespace varnel
