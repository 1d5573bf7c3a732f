#include "listsnapshot.h"

#include "core/failure.h"

#include <utility>

namespace varnel {

ListSnapshot::ListSnapshot(LineStorage storage, LineEntries rows, qsizetype count, QString caption)
    : m_storage(std::move(storage))
    , m_rows(std::move(rows))
    , m_count(count)
    , m_caption(std::move(caption)) {}

LineText ListSnapshot::textView(qsizetype position) const {
    if (position < 1 || position > m_count)
        throw failures::indexOutOfBounds();
    return m_storage.text(m_rows.line(size_t(position - 1)));
}

QString ListSnapshot::columnCaption(qsizetype column) const {
    if (column != 1)
        throw failures::indexOutOfBounds();
    return m_caption;
}

QString ListSnapshot::cell(qsizetype item, qsizetype column) const {
    if (column != 1)
        throw failures::indexOutOfBounds();
    return text(item);
}

} // namespace varnel
