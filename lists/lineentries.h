#pragma once

#include "linestorage.h"
#include "order/linesort.h"

#include <memory>
#include <vector>

namespace varnel {

// A list's rows in order: each row's line, and the links rows carry (see
// LineListModel::link). The links are kept apart, and only once a row has one: a list
// without any, as the input list is, costs eight bytes a row.
// The lines are shared by every copy until one of them changes them (and then holds its own),
// so a command can keep the rows as they were when it started without copying ten million of
// them; the links are not shared, as no such command needs them.
class LineEntries {
public:
    using Lines = std::vector<StoredLine>;

    LineEntries() = default;
    // `links` empty, or one a line.
    explicit LineEntries(Lines lines, std::vector<quint32> links = {});
    // Rows picked out of `from`: row i is line picks[i] of it, and its link picks[i] + 1.
    // Four bytes a row where rows of their own take twelve: a sorted copy of ten million lines
    // keeps its order and nothing more. The first change of the rows gives them their own.
    LineEntries(std::shared_ptr<const Lines> from, SortOrder picks);

    size_t size() const { return m_picks ? m_picks->size() : m_lines ? m_lines->size() : 0; }
    bool empty() const { return size() == 0; }
    StoredLine line(size_t row) const {
        return m_picks ? (*m_from)[(*m_picks)[row]] : (*m_lines)[row];
    }
    // Asks for the memory that tells a picked row's line, which lies anywhere in what the rows
    // were picked out of; a hint, for a reader of rows in turn to call a few rows ahead.
    void prefetch(size_t row) const {
        if (m_picks)
            __builtin_prefetch(m_from->data() + (*m_picks)[row]);
    }
    quint32 link(size_t row) const {
        if (!m_links.empty())
            return m_links[row];
        return m_picks ? (*m_picks)[row] + 1 : 0;
    }
    void setLink(size_t row, quint32 link);
    bool hasLinks() const { return !m_links.empty() || m_picks; }
    // One a row, all 0 when no row had a link yet.
    std::vector<quint32>& links();
    // The lines, to rewrite in place; their number stays. Lines shared with a copy, or
    // picked out of another's, are copied first.
    Lines& lines() { return ownLines(); }
    // The rows as they are now, whatever this list does later, without their links.
    LineEntries rows() const;
    // Whether these rows are lines of their own that others may share (see the picked form).
    bool isPicked() const { return bool(m_picks); }
    // The lines as they are now, to pick rows of; none when these rows are picked themselves.
    std::shared_ptr<const Lines> sharedLines() const { return m_picks ? nullptr : m_lines; }

    // Memory the rows take, reserved or used.
    qsizetype bytes() const {
        return qsizetype((m_lines ? m_lines->capacity() * sizeof(StoredLine) : 0) +
                         (m_picks ? m_picks->size() * sizeof(quint32) : 0) +
                         m_links.capacity() * sizeof(quint32));
    }

    void append(LineEntries more);
    void insert(size_t row, const LineEntries& more);
    // Takes `count` rows from `row` on out.
    LineEntries take(size_t row, size_t count);
    void truncate(size_t count);
    void exchange(size_t first, size_t second);
    // Puts row order[i] i-th, for each i, in place; `order` is a permutation of the rows.
    void arrange(SortOrder order);

private:
    Lines& ownLines();

    std::shared_ptr<Lines> m_lines; // none when there are no rows, or they are picked
    // The picked form: the lines picked out of, and which.
    std::shared_ptr<const Lines> m_from;
    std::shared_ptr<const SortOrder> m_picks;
    std::vector<quint32> m_links; // empty, or one a line
};

} // namespace varnel
