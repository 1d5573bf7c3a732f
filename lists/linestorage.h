#pragma once

#include "order/linetext.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <vector>

namespace varnel {

// Where a line's text lies in a LineStorage: which buffer, and where in it.
struct StoredLine {
    quint32 chunk = 0;
    quint32 offset = 0;
    quint32 length = 0;
};

// The text of a list's lines, in a few large buffers rather than a string a line: a million
// lines cost their characters and twelve bytes more, a loaded file becomes one buffer without
// a copy per line, and a list that copies lines from another shares that list's buffers. A
// buffer holds one byte a character when all of its lines fit in Latin-1, as most lists do,
// and UTF-16 otherwise; a single line goes into a buffer of the narrowest form it fits.
// A line's text stays where it is for as long as the storage keeps its buffer.
class LineStorage {
public:
    LineText text(StoredLine line) const {
        const Chunk& chunk = m_chunks.at(line.chunk);
        if (chunk.isWide)
            return QStringView(chunk.wide).sliced(line.offset, line.length);
        return QLatin1StringView(chunk.narrow).sliced(line.offset, line.length);
    }

    // Copies `text` in. Throws Failure "Out of memory" for a line of 4 GiB or more.
    StoredLine store(LineText text);
    // Takes `buffer` whole, for lines that are spans of it; returns the buffer's number.
    // Throws Failure "Out of memory" for a buffer of 4 GiB or more.
    quint32 addBuffer(QString buffer);
    quint32 addBuffer(QByteArray buffer);
    qsizetype bufferSize(quint32 chunk) const { return m_chunks.at(chunk).size(); }
    // The number here of `source`'s buffer `chunk`, which this storage then shares; a buffer
    // is shared once however often it is asked for.
    quint32 share(const LineStorage& source, quint32 chunk);

    qsizetype bufferCount() const { return m_chunks.size(); }
    bool isEmpty() const { return m_chunks.isEmpty(); }
    void clear();
    // Characters held in the buffers, this storage's own and those it shares.
    qsizetype heldCharacters() const;

    // Given how many characters of each buffer the list uses, the buffers worth copying those
    // out of: those nobody else holds any more and of which less than half is used.
    std::vector<bool> buffersWorthLeaving(const std::vector<qsizetype>& used) const;
    // Lets go of the buffers `drop` marks (buffers added since it was made stay) and returns
    // each buffer's new number, by its old one.
    std::vector<quint32> dropBuffers(std::vector<bool> drop);

private:
    struct Chunk {
        QString wide;
        QByteArray narrow;
        bool isWide = false;
        qsizetype size() const { return isWide ? wide.size() : narrow.size(); }
        const void* address() const {
            return isWide ? static_cast<const void*>(wide.constData()) : narrow.constData();
        }
        bool isDetached() const { return isWide ? wide.isDetached() : narrow.isDetached(); }
    };

    quint32 addChunk(Chunk chunk);

    QList<Chunk> m_chunks;
    // The chunks single lines are copied into, one of each form; -1 for none yet.
    qsizetype m_openNarrowChunk = -1;
    qsizetype m_openWideChunk = -1;
    // Each chunk by its buffer's address, so a buffer shared again is not added twice.
    QHash<const void*, quint32> m_chunkByBuffer;
};

} // namespace varnel
