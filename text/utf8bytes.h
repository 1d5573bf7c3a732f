#pragma once

// What each byte of a UTF-8 text is, and the run of ASCII every reader and decoder steps over
// first: most lines of most lists are ASCII for long stretches.

#include "core/utf8leads.h"

#include <QByteArrayView>
#include <QtGlobal>

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

// The top bit of each byte of a word: set only beyond ASCII.
constexpr quint64 HighBits = 0x8080808080808080ULL;

#if defined(__SSE2__)
// How many of the sixteen bytes in `v` are ASCII before the first that is not.
inline int asciiLead(__m128i v) {
    const auto high = unsigned(_mm_movemask_epi8(v));
    return high == 0 ? 16 : std::countr_zero(high);
}
#endif

inline bool eightAscii(const char* p) {
    quint64 word;
    std::memcpy(&word, p, sizeof word);
    return !(word & HighBits);
}

inline bool isAscii(QByteArrayView bytes) {
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    quint64 high = 0;
    for (; end - p >= 8; p += 8) {
        quint64 word;
        std::memcpy(&word, p, 8);
        high |= word;
    }
    for (; p < end; ++p)
        high |= quint64(static_cast<unsigned char>(*p));
    return (high & HighBits) == 0;
}

// The first byte beyond ASCII from `p` on, or `end`.
inline const char* skipAscii(const char* p, const char* end) {
#if defined(__SSE2__)
    for (; end - p >= 16; p += 16) {
        const int ascii = asciiLead(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        if (ascii < 16)
            return p + ascii;
    }
#endif
    while (end - p >= 8 && eightAscii(p))
        p += 8;
    while (p < end && static_cast<unsigned char>(*p) < 0x80)
        ++p;
    return p;
}

// Copies the ASCII bytes `in` starts with to `out`, one unit each (char or char16_t), and
// returns how many. `out` has room for `size` units; those past the ones counted may be
// overwritten with scratch. Stores as it tests: in plain text the run is long.
template <typename Unit> inline qsizetype copyAscii(const char* in, qsizetype size, Unit* out) {
    static_assert(sizeof(Unit) <= 2);
    qsizetype i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= size; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        if constexpr (sizeof(Unit) == 1) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
        } else {
            const __m128i zero = _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(bytes, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8),
                             _mm_unpackhi_epi8(bytes, zero));
        }
        const int ascii = asciiLead(bytes);
        if (ascii < 16)
            return i + ascii;
    }
#endif
    for (; i + 8 <= size && eightAscii(in + i); i += 8) {
        for (int k = 0; k < 8; ++k)
            out[i + k] = Unit(in[i + k]);
    }
    for (; i < size && static_cast<unsigned char>(in[i]) < 0x80; ++i)
        out[i] = Unit(in[i]);
    return i;
}

// The bits of the code point a lead byte of a sequence of `length` bytes carries.
inline char32_t leadBits(unsigned char lead, int length) {
    return char32_t(lead & (0x7F >> length));
}

} // namespace varnel
