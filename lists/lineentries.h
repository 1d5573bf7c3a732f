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

    size_t size() const { return m_lines ? m_lines->size() : 0; }
    bool empty() const { return size() == 0; }
    StoredLine line(size_t row) const { return (*m_lines)[row]; }
    quint32 link(size_t row) const { return m_links.empty() ? 0 : m_links[row]; }
    void setLink(size_t row, quint32 link);
    bool hasLinks() const { return !m_links.empty(); }
    // One a row, all 0 when no row had a link yet.
    std::vector<quint32>& links();
    // The lines, to rewrite in place; their number stays. Lines shared with a copy are
    // copied first.
    Lines& lines() { return ownLines(); }
    const Lines& lines() const { return m_lines ? *m_lines : noLines(); }
    // The lines as they are now, whatever this list does later.
    std::shared_ptr<const Lines> sharedLines() const { return m_lines; }

    // Memory the rows take, reserved or used.
    qsizetype bytes() const {
        return qsizetype(lines().capacity() * sizeof(StoredLine) +
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
    static const Lines& noLines();
    Lines& ownLines();

    std::shared_ptr<Lines> m_lines; // none when there are no rows
    std::vector<quint32> m_links;   // empty, or one a line
};

} // namespace varnel
