#include "linelistmodel.h"

#include "core/failure.h"

namespace varnel {

// The lines that come into a list with a text buffer of their own (a loaded file's, a batch
// of dropped paths'): the buffer is taken whole and each line is a span of it.

void LineListModel::appendLines(QString buffer, const std::vector<LineSpan>& spans) {
    appendSpans(std::move(buffer), spans);
}

void LineListModel::appendLatin1Lines(QByteArray buffer, const std::vector<LineSpan>& spans) {
    appendSpans(std::move(buffer), spans);
}

void LineListModel::appendLines(QString buffer, LinePlaces places) {
    appendPlaces(std::move(buffer), std::move(places));
}

void LineListModel::appendLatin1Lines(QByteArray buffer, LinePlaces places) {
    appendPlaces(std::move(buffer), std::move(places));
}

template <typename Buffer> void LineListModel::appendPlaces(Buffer buffer, LinePlaces places) {
    if (places.empty())
        return;
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
        runAsideWhenLarge(lines.size(), [&] { moveBy(base); });
    const quint32 chunk = m_storage.addBuffer(std::move(buffer));
    // A buffer another command added meanwhile took the place first.
    moveBy(m_storage.base(chunk) - base);
    // A long line runs to the end of its buffer, or is copied into one of its own.
    for (const LinePlaces::LongLine& line : places.longLines()) {
        if (qsizetype(line.span.offset) + qsizetype(line.span.length) != size)
            lines[line.row] = m_storage.line(chunk, line.span.offset, line.span.length);
    }
    insertEntries(LineEntries(std::move(lines)));
}

template <typename Buffer>
void LineListModel::appendSpans(Buffer buffer, const std::vector<LineSpan>& spans) {
    const qsizetype size = buffer.size();
    LinePlaces places;
    // Ten million places take a tenth of a second and more: not on the window's thread.
    runAsideWhenLarge(spans.size(), [&] {
        for (const LineSpan& s : spans) {
            if (qsizetype(s.offset) + qsizetype(s.length) > size)
                throw failures::indexOutOfBounds();
        }
        places = LinePlaces(spans);
    });
    appendPlaces(std::move(buffer), std::move(places));
}

} // namespace varnel
