#include "listlines.h"

#include "core/eventpump.h"
#include "core/failure.h"

#include <algorithm>
#include <utility>

namespace varnel {

void runAsideWhenLarge(EventPump* pump, size_t items, const std::function<void()>& work) {
    if (pump && items >= LineSort::TwoThreadSize)
        pump->runAside(work);
    else
        work();
}

LineEntries ListLines::store(const QStringList& texts) {
    std::vector<StoredLine> lines;
    lines.reserve(size_t(texts.size()));
    for (const QString& t : texts)
        lines.push_back(m_storage.store(t));
    return LineEntries(std::move(lines));
}

LineEntries ListLines::adopt(QString buffer, const std::vector<LineSpan>& spans, EventPump* pump) {
    return adoptSpans(std::move(buffer), spans, pump);
}

LineEntries ListLines::adopt(QByteArray buffer, const std::vector<LineSpan>& spans,
                             EventPump* pump) {
    return adoptSpans(std::move(buffer), spans, pump);
}

LineEntries ListLines::adopt(QString buffer, LinePlaces places, EventPump* pump) {
    return adoptPlaces(std::move(buffer), std::move(places), pump);
}

LineEntries ListLines::adopt(QByteArray buffer, LinePlaces places, EventPump* pump) {
    return adoptPlaces(std::move(buffer), std::move(places), pump);
}

template <typename Buffer>
LineEntries ListLines::adoptPlaces(Buffer buffer, LinePlaces places, EventPump* pump) {
    if (places.empty())
        return {};
    const qsizetype size = buffer.size();
    // Each place is its offset in the buffer: moved to where the buffer comes in the storage,
    // in place.
    std::vector<StoredLine> lines = places.takePlaces();
    const auto moveBy = [&lines](quint64 distance) {
        if (distance != 0) {
            for (StoredLine& line : lines)
                line = line.movedBy(qint64(distance));
        }
    };
    const quint64 base = m_storage.nextBase();
    if (base != 0)
        runAsideWhenLarge(pump, lines.size(), [&] { moveBy(base); });
    const quint32 chunk = m_storage.addBuffer(std::move(buffer));
    // A buffer another command added meanwhile took the place first.
    moveBy(m_storage.base(chunk) - base);
    // A long line runs to the end of its buffer, or is copied into one of its own.
    for (const LinePlaces::LongLine& line : places.longLines()) {
        if (qsizetype(line.span.offset) + qsizetype(line.span.length) != size)
            lines[line.row] = m_storage.line(chunk, line.span.offset, line.span.length);
    }
    return LineEntries(std::move(lines));
}

template <typename Buffer>
LineEntries ListLines::adoptSpans(Buffer buffer, const std::vector<LineSpan>& spans,
                                  EventPump* pump) {
    const qsizetype size = buffer.size();
    LinePlaces places;
    // Ten million places take a tenth of a second and more: not on the window's thread.
    runAsideWhenLarge(pump, spans.size(), [&] {
        for (const LineSpan& s : spans) {
            if (qsizetype(s.offset) + qsizetype(s.length) > size)
                throw failures::indexOutOfBounds();
        }
        places = LinePlaces(spans);
    });
    return adoptPlaces(std::move(buffer), std::move(places), pump);
}

void ListLines::leaveReleasedBuffers() {
    try {
        std::vector<qsizetype> used(size_t(m_storage.bufferCount()), 0);
        for (StoredLine line : std::as_const(m_entries).lines())
            used[m_storage.bufferOf(line)] += m_storage.length(line);
        const std::vector<bool> drop = m_storage.buffersWorthLeaving(used);
        if (std::find(drop.begin(), drop.end(), true) == drop.end())
            return;
        std::vector<StoredLine> lines(std::as_const(m_entries).lines());
        for (StoredLine& line : lines)
            if (drop[m_storage.bufferOf(line)])
                line = m_storage.store(m_storage.text(line));
        // The other lines keep their places.
        m_storage.dropBuffers(drop);
        m_entries.lines() = std::move(lines);
    } catch (const std::bad_alloc&) {
        // The lines stay where they are: nothing is lost but the memory.
    }
}

} // namespace varnel
