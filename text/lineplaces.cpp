#include "lineplaces.h"

namespace varnel {

LinePlaces::LinePlaces(const std::vector<LineSpan>& spans) {
    m_places.reserve(spans.size());
    for (const LineSpan& span : spans)
        add(span.offset, span.length);
}

LineSpan LinePlaces::operator[](size_t row) const {
    const StoredLine place = m_places[row];
    if (place.packedLength() < StoredLine::LongLength)
        return {quint32(place.position()), place.packedLength()};
    const auto at = std::lower_bound(m_longLines.begin(), m_longLines.end(), row,
                                     [](const LongLine& line, size_t r) { return line.row < r; });
    return at->span;
}

void LinePlaces::addLong(qsizetype offset, qsizetype length) {
    m_longLines.push_back({m_places.size(), {quint32(offset), quint32(length)}});
    m_places.push_back(StoredLine::at(quint64(offset), StoredLine::LongLength));
}

} // namespace varnel
