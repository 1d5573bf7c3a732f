#include "encodedlinesortsafter.h"

#include "linesortsafter.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

namespace {

using Byte = unsigned char;

const Byte* bytesOf(QByteArrayView view) {
    return reinterpret_cast<const Byte*>(view.data());
}

quint64 eightBytes(const Byte* p) {
    quint64 word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

constexpr quint64 HighBits = 0x8080808080808080ULL;

// Eight bytes with A to Z lowered; bytes beyond ASCII stay as they are.
quint64 asciiLower(quint64 word) {
    const quint64 low = word & ~HighBits;
    const quint64 fromA = low + 0x3F3F3F3F3F3F3F3FULL; // high bit set from 'A' on
    const quint64 pastZ = low + 0x2525252525252525ULL; // high bit set past 'Z'
    const quint64 capitals = fromA & ~pastZ & ~word & HighBits;
    return word | (capitals >> 2);
}

// How many bytes the two share from the start, eight at a time.
qsizetype commonBeginning(const Byte* a, const Byte* b, qsizetype length) {
    qsizetype i = 0;
    for (; i + 8 <= length; i += 8) {
        const quint64 differ = eightBytes(a + i) ^ eightBytes(b + i);
        if (differ) {
            if constexpr (std::endian::native == std::endian::little)
                return i + std::countr_zero(differ) / 8;
            break;
        }
    }
    while (i < length && a[i] == b[i])
        ++i;
    return i;
}

// The high bit of each byte that is not zero.
quint64 nonZeroBytes(quint64 word) {
    return (((word & ~HighBits) + ~HighBits) | word) & HighBits;
}

#if defined(__SSE2__)
__m128i asciiLower(__m128i bytes) {
    // Signed, so bytes beyond ASCII are below 'A'.
    const __m128i capitals = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8('A' - 1)),
                                           _mm_cmplt_epi8(bytes, _mm_set1_epi8('Z' + 1)));
    return _mm_add_epi8(bytes, _mm_and_si128(capitals, _mm_set1_epi8(0x20)));
}
#endif

Byte asciiLower(Byte c) {
    return (c >= 'A' && c <= 'Z') ? Byte(c + 0x20) : c;
}

bool isContinuation(Byte b) {
    return (b & 0xC0) == 0x80;
}

// The character starting at `p`, which is valid UTF-8; `p` moves past it.
char32_t takeCharacter(const Byte*& p) {
    const Byte lead = *p;
    if (lead < 0x80) {
        ++p;
        return lead;
    }
    const int length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = lead & (0x7F >> length);
    for (int k = 1; k < length; ++k)
        c = (c << 6) | (p[k] & 0x3F);
    p += length;
    return c;
}

// Lower case through a table for the Latin letters most lists hold beyond ASCII.
char32_t lowered(char32_t c) {
    static constexpr char32_t TableEnd = 0x250;
    static const auto table = [] {
        std::array<char16_t, TableEnd> t{};
        for (char32_t i = 0; i < TableEnd; ++i)
            t[i] = char16_t(loweredCharacter(i));
        return t;
    }();
    return c < TableEnd ? table[c] : loweredCharacter(c);
}

// Whether lower-cased `a` comes after lower-cased `b` as UTF-16 units: a character beyond
// the first plane starts with a surrogate, which is above most of the first plane.
bool unitsAfter(char32_t a, char32_t b) {
    const auto firstUnit = [](char32_t c) {
        return c < 0x10000 ? char16_t(c) : QChar::highSurrogate(c);
    };
    const char16_t x = firstUnit(a);
    const char16_t y = firstUnit(b);
    return x != y ? x > y : a > b;
}

} // namespace

bool utf8LineSortsAfter(QByteArrayView upper, QByteArrayView lower) {
    const Byte* u = bytesOf(upper);
    const Byte* l = bytesOf(lower);
    const Byte* const uEnd = u + upper.size();
    const Byte* const lEnd = l + lower.size();
    // Many bytes a step over what reads the same, neighbours in a list sharing their
    // beginnings: equal bytes, or ASCII letters that differ only in case. A step ends at
    // the first byte that differs once lowered, or that differs and is beyond ASCII.
    bool parted = false;
#if defined(__SSE2__)
    for (; !parted && uEnd - u >= 16 && lEnd - l >= 16; u += 16, l += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(l));
        const int high = _mm_movemask_epi8(_mm_or_si128(a, b));
        const int differ = ~_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)) & 0xFFFF;
        const int differLowered =
            ~_mm_movemask_epi8(_mm_cmpeq_epi8(asciiLower(a), asciiLower(b))) & 0xFFFF;
        if (const int stop = differLowered | (differ & high)) {
            const int k = std::countr_zero(unsigned(stop));
            if (!((high >> k) & 1))
                return asciiLower(u[k]) > asciiLower(l[k]);
            parted = true;
            u += k - 16;
            l += k - 16;
        }
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        // Eight bytes from `u` and `l`: whether they part there, and if so where.
        const auto step = [&](const Byte* x, const Byte* y, int& at, bool& after) {
            const quint64 a = eightBytes(x);
            const quint64 b = eightBytes(y);
            const quint64 la = asciiLower(a);
            const quint64 lb = asciiLower(b);
            const quint64 stop = nonZeroBytes(la ^ lb) | (nonZeroBytes(a ^ b) & (a | b));
            if (!stop)
                return false;
            at = std::countr_zero(stop) / 8;
            const bool ascii = !(((a | b) >> (8 * at)) & 0x80);
            after = ascii && Byte(la >> (8 * at)) > Byte(lb >> (8 * at));
            parted = !ascii;
            return true;
        };
        int at = 0;
        bool after = false;
        for (; !parted && uEnd - u >= 8 && lEnd - l >= 8; u += 8, l += 8) {
            if (step(u, l, at, after)) {
                if (!parted)
                    return after;
                u += at - 8;
                l += at - 8;
            }
        }
        // The last few bytes both have, in eight that overlap those already passed.
        const qsizetype left = std::min(uEnd - u, lEnd - l);
        if (!parted && left > 0 && u - bytesOf(upper) + left >= 8) {
            const qsizetype back = 8 - left;
            if (!step(u - back, l - back, at, after)) {
                u += left;
                l += left;
            } else if (!parted) {
                return after;
            } else {
                u += at - back;
                l += at - back;
            }
        }
    }
    // Back to the start of the character the steps ended in, the same in both.
    if (u < uEnd && l < lEnd) {
        while (u > bytesOf(upper) && isContinuation(*u)) {
            --u;
            --l;
        }
    }
    // A character and its lower-case form can differ in length (the Kelvin sign lowers to
    // k), so each side keeps its own place; in UTF-16 units the places stay level.
    while (u < uEnd && l < lEnd) {
        if ((*u | *l) < 0x80) {
            const Byte a = asciiLower(*u++);
            const Byte b = asciiLower(*l++);
            if (a != b)
                return a > b;
            continue;
        }
        const char32_t a = takeCharacter(u);
        const char32_t b = takeCharacter(l);
        if (a != b) {
            const char32_t la = lowered(a);
            const char32_t lb = lowered(b);
            if (la != lb)
                return unitsAfter(la, lb);
        }
    }
    return u < uEnd;
}

bool singleByteLineSortsAfter(QByteArrayView upper, QByteArrayView lower,
                              const LoweredBytes& lowered) {
    const Byte* u = bytesOf(upper);
    const Byte* l = bytesOf(lower);
    const qsizetype common = std::min(upper.size(), lower.size());
    for (qsizetype i = commonBeginning(u, l, common); i < common; ++i) {
        const char16_t a = lowered[u[i]];
        const char16_t b = lowered[l[i]];
        if (a != b)
            return a > b;
    }
    return upper.size() > lower.size();
}

} // namespace varnel
