#pragma once

#include "lineentries.h"
#include "linestorage.h"

#include <QtGlobal>

#include <optional>
#include <utility>
#include <vector>

namespace varnel {

class LineListModel;

// One change of a list, as what takes it back: applied to the list (LineListModel::apply), it
// undoes what it was recorded for, and the list records what redoes it in turn. Rows and
// texts go into it without a copy. Rows count from 0.
class ListChange {
public:
    // Rows that were added: `count` of them from `first` on go again.
    static ListChange removal(size_t first, size_t count);
    // Rows that were removed come back from `first` on.
    static ListChange insertion(size_t first, LineEntries entries);
    static ListChange exchange(size_t first, size_t second);
    // Links that were lost or found again, each (row, link before), of a list of `rows` rows.
    static ListChange links(std::vector<std::pair<quint32, quint32>> before, size_t rows);
    // The whole list as it was: its rows, its text buffers too unless none, and its mode.
    static ListChange replacement(std::optional<LineStorage> storage, LineEntries entries,
                                  bool sorted);
    static ListChange sortedMode(bool sorted);

    // What keeping it costs, for the history's limit; a replaced list's text counts at two
    // bytes a character, wide or not.
    qsizetype bytes() const;

private:
    friend class LineListModel;
    enum class Kind { Insert, Remove, Exchange, Links, Replace, Sorted };
    Kind kind = Kind::Insert;
    // Insert and Remove: the first row and the count; Exchange: the two rows.
    size_t first = 0;
    size_t second = 0;
    LineEntries entries;
    // Links: each (row, link) to set in `rowLinks`; or, when every row's changed, each row's link
    // in `allLinks`, which then takes the list's place without a pass over the rows.
    std::vector<std::pair<quint32, quint32>> rowLinks;
    std::vector<quint32> allLinks;
    // Replace: the whole list, its text buffers too when withStorage.
    LineStorage storage;
    bool withStorage = false;
    bool sorted = false;
};

// Hears of every change of the lists it is given to, at the moment it is done.
class ListChangeRecorder {
public:
    virtual ~ListChangeRecorder() = default;
    virtual void record(LineListModel& list, ListChange change) = 0;
};

} // namespace varnel
