#pragma once

#include "core/memorypolicy.h"
#include "lineentries.h"
#include "linestorage.h"
#include "order/linesort.h"
#include "order/linetext.h"
#include "text/lineplaces.h"
#include "text/linespan.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace varnel {

class EventPump;

// Runs `work` through the pump's runAside when there are enough `items` to hold the window
// noticeably; on this thread otherwise, and always without a pump.
void runAsideWhenLarge(EventPump* pump, size_t items, const std::function<void()>& work);

// What a list shows: the text buffers its lines are spans of (LineStorage) and its rows
// (LineEntries), and the making of new rows in those buffers. New rows come back as entries
// for the list to place; they become its own only once it inserts them. Rows count from 0.
class ListLines {
public:
    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    LineText text(size_t row) const { return m_storage.text(m_entries.line(row)); }

    LineStorage& storage() { return m_storage; }
    const LineStorage& storage() const { return m_storage; }
    LineEntries& entries() { return m_entries; }
    const LineEntries& entries() const { return m_entries; }

    // Rows for texts copied into small shared buffers.
    LineEntries store(const QStringList& texts);
    // Rows for the lines `spans` marks in `buffer`, which the storage takes whole; a
    // span past the buffer's end throws Failure "Index out of bounds".
    LineEntries adopt(QString buffer, const std::vector<LineSpan>& spans, EventPump* pump);
    LineEntries adopt(QByteArray buffer, const std::vector<LineSpan>& spans, EventPump* pump);
    // The same for places made in the list's own form, taken over as they are.
    LineEntries adopt(QString buffer, LinePlaces places, EventPump* pump);
    LineEntries adopt(QByteArray buffer, LinePlaces places, EventPump* pump);

    // Rows for `count` rows of `source` (which may be these lines), sharing its buffers: the
    // i-th new row is the source's row rowOf(order[i]), or rowOf(i) without an order, and
    // its link the position it came from.
    template <typename RowOf>
    LineEntries shareRows(const ListLines& source, size_t count, const RowOf& rowOf,
                          const SortOrder& order, EventPump* pump);

    // Copies the lines out of the buffers nobody else holds any more and less than half of
    // which these lines use, and lets go of those buffers. Short of memory, all stays.
    void leaveReleasedBuffers();

private:
    template <typename Buffer>
    LineEntries adoptSpans(Buffer buffer, const std::vector<LineSpan>& spans, EventPump* pump);
    template <typename Buffer>
    LineEntries adoptPlaces(Buffer buffer, LinePlaces places, EventPump* pump);

    LineStorage m_storage;
    LineEntries m_entries;
};

template <typename RowOf>
LineEntries ListLines::shareRows(const ListLines& source, size_t count, const RowOf& rowOf,
                                 const SortOrder& order, EventPump* pump) {
    const LineStorage::Sharing shared = m_storage.shareAll(source.m_storage);
    LineEntries entries;
    // Ten million entries take a tenth of a second in page faults alone: not on the
    // window's thread.
    runAsideWhenLarge(pump, count, [&] {
        std::vector<StoredLine> lines;
        lines.reserve(count);
        prefault(lines.data(), qint64(count * sizeof(StoredLine)));
        std::vector<quint32> links(count);
        const bool ordered = !order.empty();
        for (size_t i = 0; i < count; ++i) {
            const size_t row = rowOf(ordered ? order[i] : i);
            lines.push_back(shared(source.m_entries.line(row)));
            links[i] = quint32(row + 1);
        }
        entries = LineEntries(std::move(lines), std::move(links));
    });
    return entries;
}

} // namespace varnel
