#pragma once

// The buffer a LineStream cuts its lines from: inside the text layer only.

#include "core/memorypolicy.h"
#include "files/bytesource.h"
#include "linebreaks.h"

#include <QByteArray>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

namespace varnel::streaming {

// The units read and not yet given out, cut into lines by the line rule. The line cut last
// stays until the next.
template <typename Unit> class LineBuffer {
public:
    using Cut = LineCutter::Cut;

    // Room for `count` more units after those read.
    Unit* room(qsizetype count);
    void filled(qsizetype count) { m_end += count; }
    // Passes over `count` units at the start that belong to no line (a mark).
    void skip(qsizetype count) { m_cutter.startAt(count); }
    // Units read and not yet given out in lines.
    qsizetype waiting() const { return m_end - m_cutter.start(); }
    // Starts again empty, as if `lastLine` had just been cut.
    void restart(const QByteArray& lastLine);
    [[gnu::always_inline]] Cut cut(bool atEnd, bool& crLf) {
        LineRange line;
        const Cut cut = m_cutter.cut(m_data.get(), m_end, atEnd, line, crLf);
        if (cut == Cut::Line) {
            beforeLast = last;
            last = line;
        }
        return cut;
    }
    LineRange last;
    LineRange beforeLast;
    const Unit* at(const LineRange& span) const { return m_data.get() + span.from; }

private:
    std::unique_ptr<Unit[]> m_data;
    LineCutter m_cutter;
    qsizetype m_capacity = 0;
    qsizetype m_end = 0;
};

template <typename Unit> Unit* LineBuffer<Unit>::room(qsizetype count) {
    if (m_capacity - m_end >= count)
        return m_data.get() + m_end;
    const qsizetype keep = last.from;
    const qsizetype kept = m_end - keep;
    std::unique_ptr<Unit[]> grown;
    if (kept + count > m_capacity) {
        // Only a line longer than a block makes it grow.
        const qsizetype capacity = std::max({kept + count, 2 * m_capacity, 2 * count});
        if (m_capacity > 0 && qint64(capacity) * qint64(sizeof(Unit)) > availableMemory())
            throw systemFailure(ENOMEM);
        try {
            grown.reset(new Unit[size_t(capacity)]);
        } catch (const std::bad_alloc&) {
            throw systemFailure(ENOMEM);
        }
        m_capacity = capacity;
    }
    Unit* const target = grown ? grown.get() : m_data.get();
    if (kept > 0)
        std::memmove(target, m_data.get() + keep, size_t(kept) * sizeof(Unit));
    if (grown)
        m_data = std::move(grown);
    m_cutter.moved(keep);
    m_end -= keep;
    last.from -= keep;
    return m_data.get() + m_end;
}

template <typename Unit> void LineBuffer<Unit>::restart(const QByteArray& lastLine) {
    m_end = 0;
    m_cutter.startAt(0);
    last = beforeLast = {};
    std::copy(lastLine.begin(), lastLine.end(), room(lastLine.size()));
    filled(lastLine.size());
    last = {0, lastLine.size()};
    m_cutter.startAt(m_end);
}

} // namespace varnel::streaming
