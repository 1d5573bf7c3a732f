#pragma once

#include "core/eventpump.h"
#include "lineentries.h"
#include "listlines.h"
#include "order/linesort.h"
#include "order/linetext.h"

#include <QScopeGuard>

#include <functional>
#include <memory>

class QCollator;

namespace varnel {

// How a sorted list keeps its rows in correct (collated) order: a batch is put in order once,
// by the one collated sort, and merged in, not inserted line by line; a single line is placed
// after every line equal to it. With a pump, a large sort runs on a thread of its own and
// stops when the pump asks. Rows count from 0.
class SortedArrangement {
public:
    SortedArrangement();
    ~SortedArrangement();

    void setPump(EventPump* pump) { m_pump = pump; }
    EventPump* pump() const { return m_pump; }
    // A test hook: runs before each request of a sort's or an arrangement's for memory or a
    // thread, and may throw as the request would (std::bad_alloc, std::system_error).
    void setBeforeAcquiring(std::function<void(SortResource)> hook) {
        m_beforeAcquiring = std::move(hook);
    }
    void acquiring(SortResource what) const {
        if (m_beforeAcquiring)
            m_beforeAcquiring(what);
    }

    // The collated order of `count` lines, `textOf(i)` giving line i's text.
    template <typename TextOf> SortOrder order(size_t count, const TextOf& textOf) const;
    // The collated order of `entries`, lines of `lines`' storage.
    SortOrder order(const ListLines& lines, const LineEntries& entries) const;
    // The row `text` goes to among `lines`, which are in order.
    size_t placeOf(LineText text, const ListLines& lines) const;
    // `lines`' rows and `added` (lines of the same storage), both in order, as one list in
    // order; on equal lines the rows already listed come first.
    LineEntries merged(const ListLines& lines, const LineEntries& added) const;

    // How far the running sort is, from 0 to 1; 0 when none runs.
    double progress() const;
    // While a sort runs (maybe aside) it reads the text buffers, which must stay as they are.
    bool isSorting() const { return m_running != nullptr; }

private:
    const QCollator& collator() const;

    mutable std::unique_ptr<QCollator> m_collator;
    std::function<void(SortResource)> m_beforeAcquiring;
    EventPump* m_pump = nullptr;
    mutable const LineSort* m_running = nullptr;
};

template <typename TextOf>
SortOrder SortedArrangement::order(size_t count, const TextOf& textOf) const {
    LineSort sort;
    sort.setBeforeAcquiring(m_beforeAcquiring);
    if (m_pump)
        sort.setStopFlag(&m_pump->stopRequested());
    SortOrder order;
    m_running = &sort;
    const auto done = qScopeGuard([this] { m_running = nullptr; });
    runAsideWhenLarge(m_pump, count, [&] { order = sort.order(count, textOf); });
    return order;
}

} // namespace varnel
