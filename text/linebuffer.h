#pragma once

// The buffer a LineStream cuts its lines from: inside the text layer only.

#include "core/memorypolicy.h"
#include "files/systemfailure.h"
#include "linebreaks.h"

#include <QByteArray>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace varnel::streaming {

// The units read and not yet given out, cut into lines by the line rule. The line cut last
// stays until the next.
template <typename Unit> class LineBuffer {
public:
    enum class Cut { Line, NeedMore, Done };

    // Room for `count` more units after those read.
    Unit* room(qsizetype count);
    void filled(qsizetype count) { m_end += count; }
    // Passes over `count` units at the start that belong to no line (a mark).
    void skip(qsizetype count) { startAt(count); }
    // Units read and not yet given out in lines.
    qsizetype waiting() const { return m_end - m_start; }
    // Starts again empty, as if `lastLine` had just been cut.
    void restart(const QByteArray& lastLine);
    // The next line; `crLf` tells whether a CR LF ended it. `atEnd` tells that no more
    // units come.
    [[gnu::always_inline]] Cut cut(bool atEnd, bool& crLf) {
        if (m_next == m_ends.size()) {
            m_ends.clear();
            m_next = 0;
            findBreaks(atEnd);
            if (m_ends.empty()) {
                crLf = false;
                return atEnd ? Cut::Done : Cut::NeedMore;
            }
        }
        const Break& end = m_ends[m_next++];
        crLf = end.next - end.at == 2;
        beforeLast = last;
        last = {m_start, end.at - m_start};
        m_start = end.next;
        return Cut::Line;
    }
    LineRange last;
    LineRange beforeLast;
    const Unit* at(const LineRange& span) const { return m_data.get() + span.from; }

private:
    // Where a line's break is and where the next line starts.
    struct Break {
        qsizetype at;
        qsizetype next;
    };
    // Finds the breaks of the units read since the last look, a stretch of them at a time:
    // lines are short, and asking for each one alone cost more than comparing it.
    void findBreaks(bool atEnd);
    void startAt(qsizetype at) {
        m_start = at;
        m_cuts = {at, at, false};
        m_ends.clear();
        m_next = 0;
    }

    static constexpr size_t MostBreaksAhead = 4096;

    std::unique_ptr<Unit[]> m_data;
    qsizetype m_capacity = 0;
    qsizetype m_end = 0;
    qsizetype m_start = 0;     // where the next line to give starts
    LineCuts m_cuts;           // where the breaks not yet found are looked for
    std::vector<Break> m_ends; // found and not yet given
    size_t m_next = 0;
};

template <typename Unit> void LineBuffer<Unit>::findBreaks(bool atEnd) {
    cutLines(m_data.get(), m_end, atEnd, m_cuts,
             [this](qsizetype from, qsizetype length, qsizetype next) {
                 m_ends.push_back({from + length, next});
                 // A block of empty lines would otherwise take sixteen bytes a byte.
                 return m_ends.size() < MostBreaksAhead;
             });
}

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
    m_end -= keep;
    m_start -= keep;
    m_cuts.start -= keep;
    m_cuts.scan -= keep;
    for (size_t k = m_next; k < m_ends.size(); ++k) {
        m_ends[k].at -= keep;
        m_ends[k].next -= keep;
    }
    last.from -= keep;
    return m_data.get() + m_end;
}

template <typename Unit> void LineBuffer<Unit>::restart(const QByteArray& lastLine) {
    m_end = 0;
    startAt(0);
    last = beforeLast = {};
    std::copy(lastLine.begin(), lastLine.end(), room(lastLine.size()));
    filled(lastLine.size());
    last = {0, lastLine.size()};
    startAt(m_end);
}

} // namespace varnel::streaming
