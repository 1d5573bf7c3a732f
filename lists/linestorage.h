#pragma once

#include "order/linetext.h"
#include "text/lineplaces.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <vector>

namespace varnel {

// The text of a list's lines, in a few large buffers rather than a string a line: a million
// lines cost their characters and eight bytes more, a loaded file becomes one buffer without
// a copy per line, and a list that copies lines from another shares that list's buffers. A
// buffer holds one byte a character when all of its lines fit in Latin-1, as most lists do,
// and UTF-16 otherwise; a single line goes into a buffer of the narrowest form it fits.
// A line's text stays where it is for as long as the storage keeps its buffer, and each
// buffer keeps its place in the positions lines are told by: buffers are only added, or let
// go of as a whole, never moved.
class LineStorage {
public:
    LineText text(StoredLine line) const {
        const Chunk& chunk = chunkAt(line.position());
        const auto offset = qsizetype(line.position() - chunk.base);
        const qsizetype length = line.packedLength() == StoredLine::LongLength
                                     ? chunk.size() - offset
                                     : qsizetype(line.packedLength());
        if (chunk.isWide)
            return QStringView(chunk.wide).sliced(offset, length);
        return QLatin1StringView(chunk.narrow).sliced(offset, length);
    }
    qsizetype length(StoredLine line) const { return text(line).size(); }
    // The number of the buffer `line` lies in.
    quint32 bufferOf(StoredLine line) const;

    // Copies `text` in. Throws Failure "Out of memory" for a line of 4 GiB or more.
    StoredLine store(LineText text);
    // Takes `buffer` whole, for lines that are spans of it; returns the buffer's number.
    // Throws Failure "Out of memory" for a buffer of 4 GiB or more, or when the positions
    // of all buffers together run out.
    quint32 addBuffer(QString buffer);
    quint32 addBuffer(QByteArray buffer);
    // Where the next buffer added begins, unless single lines are stored first.
    quint64 nextBase() const { return m_nextBase; }
    quint64 base(quint32 chunk) const { return m_chunks.at(chunk).base; }
    // The line of `length` characters from `offset` in buffer `chunk`: a line of LongLength
    // characters or more that stops short of its buffer's end is copied into one of its own.
    StoredLine line(quint32 chunk, quint32 offset, quint32 length);
    // The packed form of a span of a buffer that begins at `base` and holds `size`
    // characters; false for a long line that stops short of the buffer's end, which line()
    // copies.
    static bool pack(quint64 base, qsizetype size, quint32 offset, quint32 length,
                     StoredLine& line) {
        if (length < StoredLine::LongLength) {
            line = StoredLine::at(base + offset, length);
            return true;
        }
        if (qsizetype(offset) + qsizetype(length) != size)
            return false;
        line = StoredLine::at(base + offset, StoredLine::LongLength);
        return true;
    }

    // How lines of another storage are found in this one, once it shares their buffers.
    class Sharing {
    public:
        StoredLine operator()(StoredLine line) const {
            return line.movedBy(m_distance[m_source->chunkIndexAt(line.position())]);
        }

    private:
        friend class LineStorage;
        const LineStorage* m_source = nullptr;
        std::vector<qint64> m_distance; // by the source's buffer number
    };
    // Shares every buffer of `source` (which may be this storage); a buffer is shared once
    // however often it is asked for.
    Sharing shareAll(const LineStorage& source);

    qsizetype bufferCount() const { return m_chunks.size(); }
    bool isEmpty() const { return m_chunks.isEmpty(); }
    void clear();
    // Characters held in the buffers, this storage's own and those it shares.
    qsizetype heldCharacters() const;

    // Given how many characters of each buffer the list uses, the buffers worth copying those
    // out of: those nobody else holds any more and of which less than half is used.
    std::vector<bool> buffersWorthLeaving(const std::vector<qsizetype>& used) const;
    // Lets go of the buffers `drop` marks (buffers added since it was made stay). The lines
    // of the other buffers keep their places.
    void dropBuffers(std::vector<bool> drop);

private:
    struct Chunk {
        QString wide;
        QByteArray narrow;
        quint64 base = 0;
        bool isWide = false;
        qsizetype size() const { return isWide ? wide.size() : narrow.size(); }
        const void* address() const {
            return isWide ? static_cast<const void*>(wide.constData()) : narrow.constData();
        }
        bool isDetached() const { return isWide ? wide.isDetached() : narrow.isDetached(); }
    };

    // `extent`: the characters the buffer may ever hold.
    quint32 addChunk(Chunk chunk, qsizetype extent);
    qsizetype chunkIndexAt(quint64 position) const {
        if (m_chunks.size() == 1)
            return 0;
        qsizetype low = 0;
        qsizetype high = m_chunks.size();
        while (high - low > 1) {
            const qsizetype middle = (low + high) / 2;
            if (m_chunks[middle].base <= position)
                low = middle;
            else
                high = middle;
        }
        return low;
    }
    const Chunk& chunkAt(quint64 position) const { return m_chunks[chunkIndexAt(position)]; }

    QList<Chunk> m_chunks; // by base
    quint64 m_nextBase = 0;
    // The chunks single lines are copied into, one of each form; -1 for none yet.
    qsizetype m_openNarrowChunk = -1;
    qsizetype m_openWideChunk = -1;
    // Each chunk by its buffer's address, so a buffer shared again is not added twice.
    QHash<const void*, quint32> m_chunkByBuffer;
};

} // namespace varnel
