#include "listsnapshot.h"

#include "core/failure.h"

#include <utility>

namespace varnel {

ListSnapshot::ListSnapshot(LineStorage storage, LineEntries rows, qsizetype count, QString caption)
    : m_storage(std::move(storage))
    , m_rows(std::move(rows))
    , m_count(count)
    , m_caption(std::move(caption)) {}

namespace {

// How many rows ahead a row's line is asked for; its text is asked for half way there.
constexpr qsizetype LookAhead = 16;

} // namespace

LineText ListSnapshot::textView(qsizetype position) const {
    if (position < 1 || position > m_count)
        throw failures::indexOutOfBounds();
    // A save or a copy reads the rows in turn, while each row's line and text lie anywhere in
    // memory: asked for a few rows early, the waits for them overlap instead of adding up.
    if (position + LookAhead <= m_count)
        m_rows.prefetch(size_t(position - 1 + LookAhead));
    if (position + LookAhead / 2 <= m_count)
        __builtin_prefetch(
            m_storage.text(m_rows.line(size_t(position - 1 + LookAhead / 2))).bytes());
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
