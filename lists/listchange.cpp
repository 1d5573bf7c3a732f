#include "listchange.h"

namespace varnel {

ListChange ListChange::removal(size_t first, size_t count) {
    ListChange change;
    change.kind = Kind::Remove;
    change.first = first;
    change.second = count;
    return change;
}

ListChange ListChange::insertion(size_t first, LineEntries entries) {
    ListChange change;
    change.kind = Kind::Insert;
    change.first = first;
    change.entries = std::move(entries);
    return change;
}

ListChange ListChange::exchange(size_t first, size_t second) {
    ListChange change;
    change.kind = Kind::Exchange;
    change.first = first;
    change.second = second;
    return change;
}

ListChange ListChange::links(std::vector<std::pair<quint32, quint32>> before, size_t rows) {
    ListChange change;
    change.kind = Kind::Links;
    // Every row's link lost at once (the input cleared): undone, the old links are put back
    // as a whole, ten million of them in no time.
    if (before.size() == rows && !before.empty()) {
        change.allLinks.reserve(before.size());
        for (const auto& [row, link] : before)
            change.allLinks.push_back(link);
    } else {
        change.rowLinks = std::move(before);
    }
    return change;
}

ListChange ListChange::replacement(std::optional<LineStorage> storage, LineEntries entries,
                                   bool sorted) {
    ListChange change;
    change.kind = Kind::Replace;
    change.withStorage = storage.has_value();
    if (storage)
        change.storage = std::move(*storage);
    change.entries = std::move(entries);
    change.sorted = sorted;
    return change;
}

ListChange ListChange::sortedMode(bool sorted) {
    ListChange change;
    change.kind = Kind::Sorted;
    change.sorted = sorted;
    return change;
}

qsizetype ListChange::bytes() const {
    return qsizetype(sizeof(ListChange)) + entries.bytes() +
           qsizetype(rowLinks.capacity() * sizeof(rowLinks.front())) +
           qsizetype(allLinks.capacity() * sizeof(quint32)) + 2 * storage.heldCharacters();
}

} // namespace varnel
