#pragma once

#include "linespan.h"

#include <QtGlobal>

#include <algorithm>
#include <vector>

namespace varnel {

// Where a line's text lies in a LineStorage, in eight bytes: where its first character is,
// counting the storage's buffers end to end, and its length. Ten million lines cost 80 MB
// here, so there is no room for a buffer's number or a 32-bit length: a line of LongLength
// characters or more is kept so that it runs to the end of its buffer, and its length is the
// rest of the buffer.
class StoredLine {
public:
    static constexpr int PositionBits = 40;
    static constexpr quint64 PositionLimit = quint64(1) << PositionBits;
    static constexpr quint32 LongLength = (quint32(1) << (64 - PositionBits)) - 1;

    StoredLine() = default;
    // `length` below LongLength, or LongLength for a line that runs to its buffer's end.
    static constexpr StoredLine at(quint64 position, quint32 length) {
        StoredLine line;
        line.m_bits = position | quint64(length) << PositionBits;
        return line;
    }

    constexpr quint64 position() const { return m_bits & (PositionLimit - 1); }
    // The length, or LongLength for a line that runs to its buffer's end.
    constexpr quint32 packedLength() const { return quint32(m_bits >> PositionBits); }
    // The same line in a storage that has its buffer `distance` further on.
    constexpr StoredLine movedBy(qint64 distance) const {
        return at(quint64(qint64(position()) + distance), packedLength());
    }

    friend constexpr bool operator==(StoredLine, StoredLine) = default;

private:
    quint64 m_bits = 0;
};
static_assert(sizeof(StoredLine) == 8);

// The places of a text's lines in the form a list keeps them (each at its offset in the text,
// as if the text were the list's first buffer), made as the text is cut: a list takes them
// over as they are, instead of making ten million entries once more.
class LinePlaces {
public:
    // A line of StoredLine::LongLength characters or more, whose place holds no length.
    struct LongLine {
        size_t row;
        LineSpan span;
    };

    LinePlaces() = default;
    explicit LinePlaces(const std::vector<LineSpan>& spans);

    // The next line.
    void add(qsizetype offset, qsizetype length) {
        if (quint64(length) < StoredLine::LongLength) [[likely]]
            m_places.push_back(StoredLine::at(quint64(offset), quint32(length)));
        else
            addLong(offset, length);
    }

    size_t size() const { return m_places.size(); }
    bool empty() const { return m_places.empty(); }
    // Where the line of `row` lies in the text.
    LineSpan operator[](size_t row) const;

    void reserve(size_t lines) { m_places.reserve(lines); }
    size_t capacity() const { return m_places.capacity(); }
    StoredLine* data() { return m_places.data(); }
    void shrinkToFit() { m_places.shrink_to_fit(); }

    // For the list that takes them.
    std::vector<StoredLine> takePlaces() { return std::move(m_places); }
    const std::vector<LongLine>& longLines() const { return m_longLines; }

private:
    void addLong(qsizetype offset, qsizetype length);

    std::vector<StoredLine> m_places;
    std::vector<LongLine> m_longLines; // by row
};

} // namespace varnel
