// The list's side of the edit history: what each change records, and how a recorded change
// is taken back (which records the change that takes it back in turn).

#include "linelistmodel.h"

#include "core/failure.h"

#include <algorithm>

namespace varnel {

void LineListModel::record(Change change) {
    if (m_recorder)
        m_recorder->record(*this, std::move(change));
}

void LineListModel::recordLinks(std::vector<std::pair<quint32, quint32>> lost) {
    Change links;
    links.kind = Change::Kind::Links;
    // Every row's link lost at once (the input cleared): undone, the old links are put back
    // as a whole, ten million of them in no time.
    if (lost.size() == m_entries.size() && !lost.empty()) {
        links.allLinks.reserve(lost.size());
        for (const auto& [row, link] : lost)
            links.allLinks.push_back(link);
    } else {
        links.links = std::move(lost);
    }
    record(std::move(links));
}

void LineListModel::recordReplacement(std::optional<LineStorage> storage, LineEntries entries,
                                      bool sorted) {
    if (!m_recorder)
        return;
    Change whole;
    whole.kind = Change::Kind::Replace;
    whole.withStorage = storage.has_value();
    if (storage)
        whole.storage = std::move(*storage);
    whole.entries = std::move(entries);
    whole.sorted = sorted;
    record(std::move(whole));
}

void LineListModel::apply(Change change) {
    using Kind = Change::Kind;
    switch (change.kind) {
    case Kind::Insert: {
        const qsizetype row = change.first;
        const auto n = qsizetype(change.entries.size());
        if (row < 0 || row > count() || n == 0)
            throw failures::indexOutOfBounds();
        beginInsertRows({}, int(row), int(row + n - 1));
        // The whole list back (a load or "Show Correct Order" redone) takes no copy.
        if (m_entries.empty())
            m_entries = std::move(change.entries);
        else
            m_entries.insert(size_t(row), change.entries);
        endInsertRows();
        Change back;
        back.kind = Kind::Remove;
        back.first = row;
        back.second = n;
        record(std::move(back));
        break;
    }
    case Kind::Remove: {
        const qsizetype row = change.first;
        const qsizetype n = change.second;
        if (row < 0 || n < 1 || row + n > count())
            throw failures::indexOutOfBounds();
        Change back;
        back.kind = Kind::Insert;
        back.first = row;
        beginRemoveRows({}, int(row), int(row + n - 1));
        back.entries = m_entries.take(size_t(row), size_t(n));
        endRemoveRows();
        record(std::move(back));
        break;
    }
    case Kind::Exchange:
        exchange(change.first, change.second);
        break;
    case Kind::Links: {
        if (!change.allLinks.empty()) {
            if (change.allLinks.size() != m_entries.size())
                throw failures::indexOutOfBounds();
            std::swap(m_entries.links(), change.allLinks);
        }
        for (auto& [row, link] : change.links) {
            if (row >= m_entries.size())
                throw failures::indexOutOfBounds();
            const quint32 before = m_entries.link(row);
            m_entries.setLink(row, link);
            link = before;
        }
        // Tooltips and the way results are drawn follow the links.
        if (!m_entries.empty())
            emit dataChanged(index(0), index(int(count() - 1)));
        record(std::move(change));
        break;
    }
    case Kind::Replace:
        beginResetModel();
        if (change.withStorage)
            std::swap(m_storage, change.storage);
        std::swap(m_entries, change.entries);
        std::swap(m_sorted, change.sorted);
        m_unshown = 0;
        endResetModel();
        record(std::move(change));
        break;
    case Kind::Sorted:
        std::swap(m_sorted, change.sorted);
        record(std::move(change));
        break;
    }
}

qsizetype LineListModel::Change::bytes() const {
    // A replaced list's text counts at two bytes a character, wide or not.
    return qsizetype(sizeof(Change)) + entries.bytes() +
           qsizetype(links.capacity() * sizeof(links.front())) +
           qsizetype(allLinks.capacity() * sizeof(quint32)) + 2 * storage.heldCharacters();
}

} // namespace varnel
