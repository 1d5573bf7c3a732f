#include "lineentries.h"

#include <utility>

namespace varnel {

LineEntries::LineEntries(Lines lines, std::vector<quint32> links)
    : m_lines(std::make_shared<Lines>(std::move(lines)))
    , m_links(std::move(links)) {}

const LineEntries::Lines& LineEntries::noLines() {
    static const Lines none;
    return none;
}

LineEntries::Lines& LineEntries::ownLines() {
    // Copies are made and let go of on the window's thread only, so a count of one stays one.
    if (!m_lines)
        m_lines = std::make_shared<Lines>();
    else if (m_lines.use_count() > 1)
        m_lines = std::make_shared<Lines>(*m_lines);
    return *m_lines;
}

void LineEntries::setLink(size_t row, quint32 link) {
    if (link == 0 && m_links.empty())
        return;
    links()[row] = link;
}

std::vector<quint32>& LineEntries::links() {
    if (m_links.empty())
        m_links.resize(size());
    return m_links;
}

void LineEntries::append(LineEntries more) {
    if (empty()) {
        *this = std::move(more);
        return;
    }
    insert(size(), more);
}

void LineEntries::insert(size_t row, const LineEntries& more) {
    // Links first: should there be no memory for them, the rows are as they were.
    if (more.hasLinks()) {
        std::vector<quint32>& all = links();
        all.insert(all.begin() + qsizetype(row), more.m_links.begin(), more.m_links.end());
    } else if (hasLinks()) {
        m_links.insert(m_links.begin() + qsizetype(row), more.size(), 0);
    }
    try {
        Lines& lines = ownLines();
        const Lines& added = more.lines();
        lines.insert(lines.begin() + qsizetype(row), added.begin(), added.end());
    } catch (...) {
        if (hasLinks())
            m_links.erase(m_links.begin() + qsizetype(row),
                          m_links.begin() + qsizetype(row + more.size()));
        throw;
    }
}

LineEntries LineEntries::take(size_t row, size_t count) {
    if (row == 0 && count == size())
        return std::exchange(*this, LineEntries());
    Lines& lines = ownLines();
    const auto from = lines.begin() + qsizetype(row);
    LineEntries taken(Lines(from, from + qsizetype(count)));
    if (hasLinks()) {
        const auto linksFrom = m_links.begin() + qsizetype(row);
        taken.m_links.assign(linksFrom, linksFrom + qsizetype(count));
        m_links.erase(linksFrom, linksFrom + qsizetype(count));
    }
    lines.erase(from, from + qsizetype(count));
    return taken;
}

void LineEntries::truncate(size_t count) {
    if (count == size())
        return;
    ownLines().resize(count);
    if (hasLinks())
        m_links.resize(count);
}

void LineEntries::exchange(size_t first, size_t second) {
    Lines& lines = ownLines();
    std::swap(lines[first], lines[second]);
    if (hasLinks())
        std::swap(m_links[first], m_links[second]);
}

void LineEntries::arrange(SortOrder sorted) {
    // Each cycle of the permutation in turn; a row done is marked by pointing at itself.
    quint32* const order = sorted.data();
    if (sorted.size() == 0)
        return;
    Lines& lines = ownLines();
    for (size_t start = 0; start < sorted.size(); ++start) {
        if (order[start] == start)
            continue;
        const StoredLine line = lines[start];
        const quint32 link = this->link(start);
        size_t to = start;
        for (;;) {
            const size_t from = order[to];
            order[to] = quint32(to);
            if (from == start) {
                lines[to] = line;
                if (hasLinks())
                    m_links[to] = link;
                break;
            }
            lines[to] = lines[from];
            if (hasLinks())
                m_links[to] = m_links[from];
            to = from;
        }
    }
}

} // namespace varnel
