#pragma once

// The buffer a LineStream cuts its lines from, and the byte scans it runs on: inside the
// lists layer only.

#include "files/bytesource.h"
#include "core/memorypolicy.h"
#include "textfilelines.h"

#include <QtGlobal>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel::streaming {

constexpr quint64 HighBits = 0x8080808080808080ULL;

inline quint64 eightBytes(const char* p) {
    quint64 word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The first byte beyond ASCII from `p` on, or `end`.
inline const char* skipAscii(const char* p, const char* end) {
#if defined(__SSE2__)
    for (; end - p >= 16; p += 16) {
        const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        if (high)
            return p + std::countr_zero(unsigned(high));
    }
#endif
    while (end - p >= 8 && !(eightBytes(p) & HighBits))
        p += 8;
    while (p < end && static_cast<unsigned char>(*p) < 0x80)
        ++p;
    return p;
}

// The CR and LF among 64 bytes (fewer at the end of what is read), one bit each.
inline quint64 breaksIn(const char* p, qsizetype count) {
    char window[64];
    if (count < 64) {
        std::memset(window, 0, sizeof window);
        std::memcpy(window, p, size_t(count));
        p = window;
    }
    quint64 mask = 0;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const int hits =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
        mask |= quint64(unsigned(hits)) << (16 * i);
    }
#else
    for (int i = 0; i < 64; ++i)
        mask |= quint64(p[i] == '\n' || p[i] == '\r') << i;
#endif
    return mask;
}

// Finds the breaks of a byte buffer looking at each stretch of it once, not once a line:
// lines are short, and where one ends is hard to foresee.
class ByteBreaks {
public:
    void forget() { m_length = 0; }
    qsizetype find(const char* data, qsizetype from, qsizetype end) {
        for (;;) {
            const qsizetype into = from - m_base;
            if (into >= 0 && into < m_length) {
                if (const quint64 bits = m_mask >> into)
                    return from + std::countr_zero(bits);
                from = m_base + m_length;
            }
            if (from >= end)
                return end;
            m_base = from;
            m_length = std::min<qsizetype>(64, end - from);
            m_mask = breaksIn(data + from, m_length);
        }
    }

private:
    qsizetype m_base = 0;
    qsizetype m_length = 0;
    quint64 m_mask = 0;
};

inline const char16_t* findUnitBreak(const char16_t* p, const char16_t* end) {
    while (p < end && (*p > u'\r' || (*p != u'\n' && *p != u'\r')))
        ++p;
    return p;
}

struct Span {
    qsizetype from = 0;
    qsizetype length = 0;
};

// The units read and not yet given out, cut into lines at CR LF, CR or LF; the text after
// the last break is a line when it is not empty. The line cut last stays until the next.
template <typename Unit> class LineBuffer {
public:
    enum class Cut { Line, NeedMore, Done };

    // Room for `count` more units after those read.
    Unit* room(qsizetype count);
    void filled(qsizetype count) { m_end += count; }
    // Passes over `count` units at the start that belong to no line (a mark).
    void skip(qsizetype count) { m_start = m_scan = count; }
    // Units read and not yet given out in lines.
    qsizetype waiting() const { return m_end - m_start; }
    // Starts again empty, as if `lastLine` had just been cut.
    void restart(const QByteArray& lastLine);
    [[gnu::always_inline]] Cut cut(bool atEnd, bool& crLf);
    Span last;
    Span beforeLast;
    const Unit* at(const Span& span) const { return m_data.get() + span.from; }

private:
    qsizetype findBreak(qsizetype from) {
        if constexpr (std::is_same_v<Unit, char>)
            return m_breaks.find(m_data.get(), from, m_end);
        else
            return findUnitBreak(m_data.get() + from, m_data.get() + m_end) - m_data.get();
    }

    std::unique_ptr<Unit[]> m_data;
    ByteBreaks m_breaks; // byte buffers only
    qsizetype m_capacity = 0;
    qsizetype m_start = 0; // where the next line starts
    qsizetype m_scan = 0;  // where the search for its break goes on
    qsizetype m_end = 0;
};

template <typename Unit> Unit* LineBuffer<Unit>::room(qsizetype count) {
    if (m_capacity - m_end >= count)
        return m_data.get() + m_end;
    m_breaks.forget();
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
    m_start -= keep;
    m_scan -= keep;
    m_end -= keep;
    last.from -= keep;
    return m_data.get() + m_end;
}

template <typename Unit> void LineBuffer<Unit>::restart(const QByteArray& lastLine) {
    m_start = m_scan = m_end = 0;
    m_breaks.forget();
    last = beforeLast = {};
    std::copy(lastLine.begin(), lastLine.end(), room(lastLine.size()));
    filled(lastLine.size());
    last = {0, lastLine.size()};
    m_start = m_scan = m_end;
}

template <typename Unit>
inline typename LineBuffer<Unit>::Cut LineBuffer<Unit>::cut(bool atEnd, bool& crLf) {
    const Unit* const data = m_data.get();
    qsizetype lineEnd = findBreak(m_scan);
    const Unit* const hit = data + lineEnd;
    qsizetype next = lineEnd + 1;
    crLf = false;
    if (lineEnd == m_end) {
        m_scan = m_end;
        if (!atEnd)
            return Cut::NeedMore;
        if (m_start == m_end)
            return Cut::Done;
        next = m_end;
    } else if (*hit == Unit('\r')) {
        // Whether a LF follows decides where the next line starts.
        if (next == m_end && !atEnd) {
            m_scan = lineEnd;
            return Cut::NeedMore;
        }
        crLf = next < m_end && data[next] == Unit('\n');
        next += crLf ? 1 : 0;
    }
    beforeLast = last;
    last = {m_start, lineEnd - m_start};
    m_start = m_scan = next;
    return Cut::Line;
}

} // namespace varnel::streaming
