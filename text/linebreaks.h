#pragma once

// The line rule, for every reader: a line ends at CR LF, at a CR alone or at a LF alone, and
// every piece between two breaks is a line, empty or not; the text after the last break is
// a line only when it is not empty, so a final break of any kind ends the last line rather
// than starting an empty one ("a\n" and "a\r\n" are one line, "\n" is one empty line).
//
// The text is bytes (one byte a character) or UTF-16 units; a CR or LF is the same unit in
// either, so the breaks of a text stay where they were when it widens. Every reader cuts by
// cutLines below: the window's, the command line's stream, its whole-file reader and its
// pair finder, and a pasted text.

#include "linespan.h"

#include <QStringView>
#include <QtGlobal>

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
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

#if defined(__x86_64__) || defined(__i386__)
// breakMask for a decoder that holds sixty-four bytes in one register already, where the
// processor has the instructions: the CR and the LF apart, for lineEndBits below.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline void
breakMasks(__m512i bytes, quint64& crs, quint64& lfs) {
    crs = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('\r'));
    lfs = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('\n'));
}
#endif

// The number of CR and LF in a text: one more is at least the number of its lines.
template <typename Unit> inline qsizetype countBreaks(const Unit* text, qsizetype size) {
    qsizetype breaks = 0;
    for (qsizetype at = 0; at < size; at += 64)
        breaks += std::popcount(breakMask(text + at, std::min<qsizetype>(64, size - at)));
    return breaks;
}

// The line rule on masks of sixty-four units, for a scan that finds the CR (`crs`) and the
// LF (`lfs`) by itself: the units that end a line, every CR and every LF but the one right
// after a CR. `afterCr` tells that the unit before the first was a CR.
constexpr quint64 lineEndBits(quint64 crs, quint64 lfs, bool afterCr) {
    return (crs | lfs) & ~(lfs & (crs << 1 | quint64(afterCr)));
}

// Where cutting a text into lines stands between two calls of cutLines.
struct LineCuts {
    qsizetype start = 0; // where the line not yet cut starts
    qsizetype scan = 0;  // where the search for its break goes on
    // The unit before `start` was a CR, left out of the text: a LF at `start` still belongs
    // to its break. Only a cutter that leaves the breaks out sets it.
    bool afterCr = false;
};

// Cuts the text up to `end` into lines by the rule above, from where `cuts` stands, and
// hands each line to `take(start, length, next)`, `next` being where the line after it
// starts: the break is `next - start - length` units long, 0 for a last line without one.
// `atEnd` tells that the text grows no more: a CR that ends it then is a break of its own,
// and what follows the last break is a line; otherwise a CR at the end waits for the unit
// after it. `take` may return false to stop: cutLines then returns false, and a later call
// goes on after the line it took last.
//
// Sixty-four units are compared at a time and their breaks walked bit by bit: lines are
// short, and asking for each one alone costs more than comparing it.
template <typename Unit, typename Take>
[[gnu::always_inline]] inline bool cutLines(const Unit* text, qsizetype end, bool atEnd,
                                            LineCuts& cuts, Take&& take) {
    qsizetype start = cuts.start;
    if (cuts.afterCr) {
        if (start == end) {
            cuts.afterCr = !atEnd;
            return true;
        }
        cuts.afterCr = false;
        if (text[start] == Unit('\n'))
            cuts.scan = ++start;
    }
    for (qsizetype at = std::max(cuts.scan, start); at < end; at += 64) {
        for (quint64 breaks = breakMask(text + at, std::min<qsizetype>(64, end - at)); breaks != 0;
             breaks &= breaks - 1) {
            const qsizetype lineEnd = at + std::countr_zero(breaks);
            // The LF of a CR LF, whose line is taken.
            if (lineEnd < start)
                continue;
            qsizetype next = lineEnd + 1;
            if (text[lineEnd] == Unit('\r')) {
                if (next < end) {
                    next += text[next] == Unit('\n') ? 1 : 0;
                } else if (!atEnd) {
                    // Whether a LF follows decides where the next line starts.
                    cuts.start = start;
                    cuts.scan = lineEnd;
                    return true;
                }
            }
            if constexpr (std::is_void_v<decltype(take(start, lineEnd - start, next))>) {
                take(start, lineEnd - start, next);
            } else if (!take(start, lineEnd - start, next)) {
                cuts.start = cuts.scan = next;
                return false;
            }
            start = next;
        }
    }
    cuts.start = cuts.scan = end;
    // What follows the last break is a line when it is not empty.
    if (atEnd && start < end) {
        if constexpr (std::is_void_v<decltype(take(start, end - start, end))>)
            take(start, end - start, end);
        else
            return take(start, end - start, end);
    } else if (!atEnd) {
        cuts.start = start;
    }
    return true;
}

// Where the first line that starts after a LF at or after `from` starts, or `end`: a LF is
// always the last unit of its break, so a text split there splits no break and no UTF-8
// sequence.
inline qsizetype lineStartAfterLf(const char* text, qsizetype from, qsizetype end) {
    if (from >= end)
        return end;
    const void* lf = std::memchr(text + from, '\n', size_t(end - from));
    return lf ? static_cast<const char*>(lf) - text + 1 : end;
}

// Where the line that holds the byte at `at` starts: just past the last CR or LF before it.
inline qsizetype lineStartBefore(const char* text, qsizetype at) {
    while (at > 0 && text[at - 1] != '\n' && text[at - 1] != '\r')
        --at;
    return at;
}

// The lines that end in the bytes [from, to), by the rule above on masks of sixty-four:
// the number of lines before `to` when a line starts at `from`. `afterCr` tells that the
// byte before `from` was a CR, and on return whether the byte before `to` was.
inline qsizetype countLineEnds(const char* text, qsizetype from, qsizetype to, bool& afterCr) {
    qsizetype count = 0;
    for (qsizetype at = from; at < to; at += 64) {
        const qsizetype n = std::min<qsizetype>(64, to - at);
        quint64 crs = 0;
        quint64 lfs = 0;
#if defined(__SSE2__)
        if (n == 64) {
            const __m128i cr = _mm_set1_epi8('\r');
            const __m128i lf = _mm_set1_epi8('\n');
            for (int i = 0; i < 4; ++i) {
                const __m128i v =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at + 16 * i));
                crs |= quint64(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)))) << (16 * i);
                lfs |= quint64(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)))) << (16 * i);
            }
        } else
#endif
        {
            for (qsizetype i = 0; i < n; ++i) {
                crs |= quint64(text[at + i] == '\r') << i;
                lfs |= quint64(text[at + i] == '\n') << i;
            }
        }
        count += std::popcount(lineEndBits(crs, lfs, afterCr));
        afterCr = (crs >> (n - 1)) & 1;
    }
    return count;
}

// The lines of a whole text. Throws "Out of memory" for a text spans cannot address.
std::vector<LineSpan> lineSpansOf(QStringView text);

} // namespace varnel
