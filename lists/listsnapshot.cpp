#include "listsnapshot.h"

#include "core/failure.h"
#include "linelistmodel.h"

#include <utility>

namespace varnel {

ListSnapshot::ListSnapshot(LineStorage storage,
                           std::shared_ptr<const std::vector<StoredLine>> lines, qsizetype count,
                           QString caption)
    : m_storage(std::move(storage))
    , m_lines(std::move(lines))
    , m_count(count)
    , m_caption(std::move(caption)) {}

LineText ListSnapshot::textView(qsizetype position) const {
    if (position < 1 || position > m_count)
        throw failures::indexOutOfBounds();
    return m_storage.text((*m_lines)[size_t(position - 1)]);
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

ListSnapshot LineListModel::snapshot() const {
    // The buffers' list and the rows are shared, not copied: this costs the same for ten
    // million lines as for one. Rows not yet shown to the views are not the list's yet.
    return ListSnapshot(m_storage, m_entries.sharedLines(), count(), m_headers.value(0));
}

} // namespace varnel
