#include "listsnapshot.h"

#include "core/failure.h"

#include <utility>

namespace varnel {

ListSnapshot::ListSnapshot(LineStorage storage,
                           std::shared_ptr<const std::vector<StoredLine>> lines, qsizetype count,
                           QString caption)
    : m_storage(std::move(storage))
    , m_lines(std::move(lines))
    , m_count(count)
    , m_caption(std::move(caption)) {}

namespace {

// How many rows ahead a row's text is asked for.
constexpr qsizetype LookAhead = 8;

} // namespace

LineText ListSnapshot::textView(qsizetype position) const {
    if (position < 1 || position > m_count)
        throw failures::indexOutOfBounds();
    // A save or a copy reads the rows in turn, while each row's text lies anywhere in a
    // buffer of the whole file: asked for a few rows early, the waits for the texts overlap
    // instead of adding up.
    if (position + LookAhead <= m_count)
        __builtin_prefetch(m_storage.text((*m_lines)[size_t(position - 1 + LookAhead)]).bytes());
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

} // namespace varnel
