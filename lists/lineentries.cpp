#include "lineentries.h"

#include <utility>

namespace varnel {

LineEntries::LineEntries(std::vector<StoredLine> lines, std::vector<quint32> links)
    : m_lines(std::move(lines))
    , m_links(std::move(links)) {}

void LineEntries::setLink(size_t row, quint32 link) {
    if (link == 0 && m_links.empty())
        return;
    links()[row] = link;
}

std::vector<quint32>& LineEntries::links() {
    if (m_links.empty())
        m_links.resize(m_lines.size());
    return m_links;
}

void LineEntries::append(LineEntries more) {
    if (m_lines.empty()) {
        *this = std::move(more);
        return;
    }
    insert(m_lines.size(), more);
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
        m_lines.insert(m_lines.begin() + qsizetype(row), more.m_lines.begin(), more.m_lines.end());
    } catch (...) {
        if (hasLinks())
            m_links.erase(m_links.begin() + qsizetype(row),
                          m_links.begin() + qsizetype(row + more.size()));
        throw;
    }
}

LineEntries LineEntries::take(size_t row, size_t count) {
    if (row == 0 && count == m_lines.size())
        return std::exchange(*this, LineEntries());
    const auto from = m_lines.begin() + qsizetype(row);
    LineEntries taken(std::vector<StoredLine>(from, from + qsizetype(count)));
    if (hasLinks()) {
        const auto linksFrom = m_links.begin() + qsizetype(row);
        taken.m_links.assign(linksFrom, linksFrom + qsizetype(count));
        m_links.erase(linksFrom, linksFrom + qsizetype(count));
    }
    m_lines.erase(from, from + qsizetype(count));
    return taken;
}

void LineEntries::truncate(size_t count) {
    m_lines.resize(count);
    if (hasLinks())
        m_links.resize(count);
}

void LineEntries::exchange(size_t first, size_t second) {
    std::swap(m_lines[first], m_lines[second]);
    if (hasLinks())
        std::swap(m_links[first], m_links[second]);
}

void LineEntries::arrange(SortOrder sorted) {
    // Each cycle of the permutation in turn; a row done is marked by pointing at itself.
    quint32* const order = sorted.data();
    for (size_t start = 0; start < sorted.size(); ++start) {
        if (order[start] == start)
            continue;
        const StoredLine line = m_lines[start];
        const quint32 link = this->link(start);
        size_t to = start;
        for (;;) {
            const size_t from = order[to];
            order[to] = quint32(to);
            if (from == start) {
                m_lines[to] = line;
                if (hasLinks())
                    m_links[to] = link;
                break;
            }
            m_lines[to] = m_lines[from];
            if (hasLinks())
                m_links[to] = m_links[from];
            to = from;
        }
    }
}

} // namespace varnel
