#include "linestorage.h"

#include "core/failure.h"

#include <algorithm>
#include <limits>

namespace varnel {

namespace {

// Single lines are copied into buffers of this many characters; a longer line gets a
// buffer of its own.
constexpr qsizetype ChunkCapacity = 16 * 1024;

void checkBufferSize(qsizetype size) {
    // Lines address a buffer with 32-bit offsets.
    if (size > qsizetype(std::numeric_limits<quint32>::max()))
        throw failures::outOfMemory();
}

// `text` as one byte a character; every unit of it is below U+0100.
void appendNarrowed(QByteArray& bytes, LineText text) {
    if (!text.isWide()) {
        bytes.append(text.narrow().data(), text.size());
        return;
    }
    const qsizetype from = bytes.size();
    bytes.resize(from + text.size());
    char* out = bytes.data() + from;
    for (const QChar c : text.wide())
        *out++ = char(c.unicode());
}

void appendWidened(QString& units, LineText text) {
    if (text.isWide()) {
        units.append(text.wide());
        return;
    }
    const qsizetype from = units.size();
    units.resize(from + text.size());
    widenLatin1(text.narrow(), reinterpret_cast<char16_t*>(units.data()) + from);
}

} // namespace

quint32 LineStorage::addChunk(Chunk chunk, qsizetype extent) {
    // One position more than the buffer may hold: a line that ends at its buffer's last
    // character, empty or not, still points into that buffer, not the next.
    const quint64 next = m_nextBase + quint64(extent) + 1;
    if (next > StoredLine::PositionLimit)
        throw failures::outOfMemory();
    chunk.base = m_nextBase;
    m_chunks.append(std::move(chunk));
    m_nextBase = next;
    const auto index = quint32(m_chunks.size() - 1);
    m_chunkByBuffer.insert(m_chunks.last().address(), index);
    return index;
}

quint32 LineStorage::addBuffer(QString buffer) {
    checkBufferSize(buffer.size());
    Chunk whole;
    whole.isWide = true;
    whole.wide = std::move(buffer);
    const qsizetype extent = whole.size();
    return addChunk(std::move(whole), extent);
}

quint32 LineStorage::addBuffer(QByteArray buffer) {
    checkBufferSize(buffer.size());
    Chunk whole;
    whole.narrow = std::move(buffer);
    const qsizetype extent = whole.size();
    return addChunk(std::move(whole), extent);
}

quint32 LineStorage::bufferOf(StoredLine line) const {
    return quint32(chunkIndexAt(line.position()));
}

StoredLine LineStorage::line(quint32 chunk, quint32 offset, quint32 length) {
    const Chunk& buffer = m_chunks.at(chunk);
    StoredLine packed;
    if (pack(buffer.base, buffer.size(), offset, length, packed))
        return packed;
    // A copy of its own runs to its buffer's end; it goes into a buffer of its own, so
    // storing it moves no other.
    const LineText whole = text(StoredLine::at(buffer.base, StoredLine::LongLength));
    return store(whole.isWide() ? LineText(whole.wide().sliced(offset, length))
                                : LineText(whole.narrow().sliced(offset, length)));
}

StoredLine LineStorage::store(LineText text) {
    checkBufferSize(text.size());
    const auto length = quint32(text.size());
    const bool wide = text.isWide() && !fitsLatin1(text.wide());
    const auto append = [&](Chunk& chunk) {
        if (wide)
            appendWidened(chunk.wide, text);
        else
            appendNarrowed(chunk.narrow, text);
    };
    if (text.size() > ChunkCapacity / 4) {
        Chunk own;
        own.isWide = wide;
        append(own);
        const qsizetype extent = own.size();
        const quint32 index = addChunk(std::move(own), extent);
        return StoredLine::at(m_chunks[index].base, std::min(length, StoredLine::LongLength));
    }
    qsizetype& open = wide ? m_openWideChunk : m_openNarrowChunk;
    if (open < 0 || m_chunks[open].size() + text.size() > ChunkCapacity) {
        Chunk fresh;
        fresh.isWide = wide;
        if (wide)
            fresh.wide.reserve(ChunkCapacity);
        else
            fresh.narrow.reserve(ChunkCapacity);
        open = addChunk(std::move(fresh), ChunkCapacity);
    }
    Chunk& chunk = m_chunks[open];
    // Appending may move the buffer (when it is shared with another list), so the
    // lookup by address is refreshed.
    const void* before = chunk.address();
    const auto offset = quint64(chunk.size());
    append(chunk);
    if (chunk.address() != before) {
        m_chunkByBuffer.remove(before);
        m_chunkByBuffer.insert(chunk.address(), quint32(open));
    }
    return StoredLine::at(chunk.base + offset, length);
}

LineStorage::Sharing LineStorage::shareAll(const LineStorage& source) {
    Sharing sharing;
    sharing.m_source = &source;
    sharing.m_distance.reserve(size_t(source.m_chunks.size()));
    for (const Chunk& buffer : source.m_chunks) {
        const auto known = m_chunkByBuffer.constFind(buffer.address());
        const quint32 here =
            known != m_chunkByBuffer.cend() ? *known : addChunk(buffer, buffer.size());
        sharing.m_distance.push_back(qint64(m_chunks[here].base) - qint64(buffer.base));
    }
    return sharing;
}

void LineStorage::clear() {
    m_chunks = QList<Chunk>();
    m_chunkByBuffer.clear();
    m_nextBase = 0;
    m_openNarrowChunk = m_openWideChunk = -1;
}

qsizetype LineStorage::heldCharacters() const {
    qsizetype held = 0;
    for (const Chunk& chunk : m_chunks)
        held += chunk.size();
    return held;
}

std::vector<bool> LineStorage::buffersWorthLeaving(const std::vector<qsizetype>& used) const {
    // Three short results of a loaded gigabyte: the copy costs what is used and frees the
    // rest. The buffers single lines go into are this storage's own already.
    std::vector<bool> leave(size_t(m_chunks.size()));
    for (qsizetype i = 0; i < m_chunks.size(); ++i) {
        const Chunk& chunk = m_chunks.at(i);
        const bool open = i == m_openNarrowChunk || i == m_openWideChunk;
        leave[size_t(i)] = !open && chunk.isDetached() && used.at(size_t(i)) < chunk.size() / 2;
    }
    return leave;
}

void LineStorage::dropBuffers(std::vector<bool> drop) {
    drop.resize(size_t(m_chunks.size()), false);
    std::vector<qsizetype> newIndex(drop.size(), -1);
    QList<Chunk> kept;
    QHash<const void*, quint32> byBuffer;
    for (size_t i = 0; i < drop.size(); ++i) {
        if (drop[i])
            continue;
        newIndex[i] = kept.size();
        kept.append(m_chunks.at(qsizetype(i)));
        byBuffer.insert(kept.last().address(), quint32(newIndex[i]));
    }
    for (qsizetype* open : {&m_openNarrowChunk, &m_openWideChunk})
        *open = *open < 0 ? -1 : newIndex[size_t(*open)];
    m_chunks = std::move(kept);
    m_chunkByBuffer = std::move(byBuffer);
}

} // namespace varnel
