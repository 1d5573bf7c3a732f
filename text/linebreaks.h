#pragma once

// The line rule, for every reader: a line ends at CR LF, at a CR alone or at a LF alone, and
// every piece between two breaks is a line, empty or not; the text after the last break is
// a line only when it is not empty, so a final break of any kind ends the last line rather
// than starting an empty one ("a\n" and "a\r\n" are one line, "\n" is one empty line).
//
// The text is bytes (one byte a character) or UTF-16 units; a CR or LF is the same unit in
// either, so the breaks of a text stay where they were when it widens.

#include "linespan.h"

#include <QStringView>
#include <QtGlobal>

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

// The CR and LF among the `count` (at most 64) units at `p`, one bit each.
template <typename Unit> inline quint64 breakMask(const Unit* p, qsizetype count) {
    static_assert(sizeof(Unit) <= 2);
    Unit window[64];
    if (count < 64) {
        std::fill(std::copy_n(p, count, window), window + 64, Unit(0));
        p = window;
    }
    quint64 mask = 0;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (int i = 0; i < 4; ++i) {
        __m128i v;
        if constexpr (sizeof(Unit) == 1) {
            v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        } else {
            // Sixteen units as sixteen bytes: those above 0xFF saturate to 0x00 or 0xFF,
            // neither a break.
            const auto* units = reinterpret_cast<const __m128i*>(p + 16 * i);
            v = _mm_packus_epi16(_mm_loadu_si128(units), _mm_loadu_si128(units + 1));
        }
        const int hits =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
        mask |= quint64(unsigned(hits)) << (16 * i);
    }
#else
    for (int i = 0; i < 64; ++i)
        mask |= quint64(p[i] == Unit('\n') || p[i] == Unit('\r')) << i;
#endif
    return mask;
}

// The number of CR and LF in a text: one more is at least the number of its lines.
template <typename Unit> inline qsizetype countBreaks(const Unit* text, qsizetype size) {
    qsizetype breaks = 0;
    for (qsizetype at = 0; at < size; at += 64)
        breaks += std::popcount(breakMask(text + at, std::min<qsizetype>(64, size - at)));
    return breaks;
}

// Finds the breaks of a text looking at each stretch of it once, not once a line: lines are
// short, and where one ends is hard to foresee.
class BreakFinder {
public:
    // The text before `from` changed or moved.
    void forget() { m_length = 0; }
    // The first CR or LF at or after `from`, or `end`.
    template <typename Unit> qsizetype find(const Unit* text, qsizetype from, qsizetype end) {
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
            m_mask = breakMask(text + from, m_length);
        }
    }

private:
    qsizetype m_base = 0;
    qsizetype m_length = 0;
    quint64 m_mask = 0;
};

// Cuts a text that may still grow into lines by the rule above, one at a time. The text
// keeps its positions as it grows, or says how far it moved.
class LineCutter {
public:
    enum class Cut { Line, NeedMore, Done };

    // Where the next line starts.
    qsizetype start() const { return m_start; }
    // Starts the next line at `at`, past what belongs to no line (a mark, lines given).
    void startAt(qsizetype at) {
        m_start = m_scan = at;
        m_finder.forget();
    }
    // The text was moved `by` units towards its start.
    void moved(qsizetype by) {
        m_start -= by;
        m_scan -= by;
        m_finder.forget();
    }

    // The next line of the `end` units at `text`, without its break. `atEnd` tells that
    // the text grows no more: a CR that ends it then is a break of its own, and what follows
    // the last break is a line.
    template <typename Unit>
    [[gnu::always_inline]] Cut cut(const Unit* text, qsizetype end, bool atEnd, LineRange& line,
                                   bool& crLf) {
        const qsizetype lineEnd = m_finder.find(text, m_scan, end);
        qsizetype next = lineEnd + 1;
        crLf = false;
        if (lineEnd == end) {
            m_scan = end;
            if (!atEnd)
                return Cut::NeedMore;
            if (m_start == end)
                return Cut::Done;
            next = end;
        } else if (text[lineEnd] == Unit('\r')) {
            // Whether a LF follows decides where the next line starts.
            if (next == end && !atEnd) {
                m_scan = lineEnd;
                return Cut::NeedMore;
            }
            crLf = next < end && text[next] == Unit('\n');
            next += crLf ? 1 : 0;
        }
        line = {m_start, lineEnd - m_start};
        m_start = m_scan = next;
        return Cut::Line;
    }

private:
    BreakFinder m_finder;
    qsizetype m_start = 0; // where the next line starts
    qsizetype m_scan = 0;  // where the search for its break goes on
};

// The lines of a whole text. Throws "Out of memory" for a text spans cannot address.
std::vector<LineSpan> lineSpansOf(QStringView text);

} // namespace varnel
