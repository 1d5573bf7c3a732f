#pragma once

#include "columntable.h"
#include "linestorage.h"
#include "order/linetext.h"

#include <QString>

#include <memory>
#include <vector>

namespace varnel {

// A list's lines as they were at one moment, for a command that yields and must finish
// with what it was given: a save, a copy, an export. It shares the list's text buffers and
// its rows (LineEntries) rather than copying them; should the list change meanwhile, the
// list makes its own rows and buffers again, and this stays as it was.
class ListSnapshot : public ColumnTable {
public:
    ListSnapshot() = default;
    ListSnapshot(LineStorage storage, std::shared_ptr<const std::vector<StoredLine>> lines,
                 qsizetype count, QString caption);

    qsizetype count() const { return m_count; }
    // Throws Failure "Index out of bounds" for a position outside 1..count().
    LineText textView(qsizetype position) const;
    QString text(qsizetype position) const { return textView(position).toString(); }

    // ColumnTable: one column, the item text; the caption is the list's header.
    qsizetype itemCount() const override { return m_count; }
    qsizetype columnCount() const override { return 1; }
    QString columnCaption(qsizetype column) const override;
    QString cell(qsizetype item, qsizetype column) const override;

private:
    LineStorage m_storage;
    std::shared_ptr<const std::vector<StoredLine>> m_lines;
    qsizetype m_count = 0;
    QString m_caption;
};

} // namespace varnel
