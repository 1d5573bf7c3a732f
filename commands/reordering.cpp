#include "reordering.h"

#include "lists/linelistmodel.h"

#include "windowstate.h"

namespace varnel {

void DragReorder::pickUp(LineListModel& list, std::optional<qsizetype> selected) {
    m_hasCarried = selected.has_value();
    m_carried =
        selected ? QPersistentModelIndex(list.index(int(*selected - 1))) : QPersistentModelIndex();
}

ReorderView DragReorder::carryTo(WindowState& state, std::optional<qsizetype> under, int pointerY,
                                 int listHeight) {
    state.hoverOverBackgroundOrList();
    if (!m_carrying)
        return {};
    if (m_hasCarried && !m_carried.isValid()) {
        // Another command removed the carried item: there is nothing left to carry.
        m_hasCarried = false;
        m_carrying = false;
        return {};
    }
    LineListModel& list = state.input();
    if (!under || !m_carried.isValid() || *under < 1 || *under > list.count())
        return {};
    const qsizetype from = m_carried.row() + 1;
    const qsizetype to = *under;
    if (list.text(from) == list.text(to))
        return {};
    list.exchange(from, to);
    m_carried = QPersistentModelIndex(list.index(int(to - 1)));

    // Only an exchange scrolls, and only near the list's own top or bottom edge.
    ReorderView view{to, std::nullopt};
    if (3 * pointerY < listHeight && to >= 2)
        view.reveal = to - 1;
    else if (3 * pointerY > 2 * listHeight && list.count() >= to + 1)
        view.reveal = to + 1;
    return view;
}

} // namespace varnel
