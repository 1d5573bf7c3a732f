#pragma once

#include <QPersistentModelIndex>

#include <optional>

namespace varnel {

class LineListModel;
class WindowState;

// What the input list shows after a move: the carried text selected at its new place,
// and the neighbour to scroll into view, if any.
struct ReorderView {
    std::optional<qsizetype> select;
    std::optional<qsizetype> reveal;
};

// Carrying an input item with the mouse. Items trade texts, not places: a move onto a
// neighbour shifts the carried text by one, a jump swaps only the two ends, and equal
// texts never trade.
class DragReorder {
public:
    // Any button down over the list.
    void press() { m_carrying = true; }
    // A press on an item, after the list has selected it: the selected item is carried.
    void pickUp(LineListModel& list, std::optional<qsizetype> selected);
    // `under` is the item under the pointer; `pointerY` and `listHeight` place the pointer
    // within the list's visible area, whose upper and lower thirds scroll.
    ReorderView carryTo(WindowState& state, std::optional<qsizetype> under, int pointerY,
                        int listHeight);
    void release() { m_carrying = false; }

private:
    bool m_carrying = false;
    bool m_hasCarried = false;
    // Follows its item when other items are removed, and lets go when it is removed.
    QPersistentModelIndex m_carried;
};

} // namespace varnel
