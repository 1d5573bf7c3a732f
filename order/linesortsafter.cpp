#include "linesortsafter.h"

#include <QChar>
#include <QtEndian>

#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

namespace {

// The lower-cased code unit at `i`, without building a lower-cased copy. Surrogate halves
// are lowered as the code point they belong to; the simple mapping keeps every character
// in its plane, so the string's length in code units never changes.
inline char16_t loweredUnit(QStringView s, qsizetype i) {
    const char16_t c = s[i].unicode();
    if (c < 0x80)
        return (c >= u'A' && c <= u'Z') ? char16_t(c + 0x20) : c;
    if (!QChar::isSurrogate(c))
        return char16_t(loweredCharacter(c));
    if (QChar::isHighSurrogate(c) && i + 1 < s.size() && QChar::isLowSurrogate(s[i + 1].unicode()))
        return QChar::highSurrogate(
            loweredCharacter(QChar::surrogateToUcs4(c, s[i + 1].unicode())));
    if (QChar::isLowSurrogate(c) && i > 0 && QChar::isHighSurrogate(s[i - 1].unicode()))
        return QChar::lowSurrogate(loweredCharacter(QChar::surrogateToUcs4(s[i - 1].unicode(), c)));
    return c;
}

// The first position where the two differ, eight bytes at a time: neighbours in a list
// share long beginnings, and equal units lower-case alike.
template <typename Unit>
inline qsizetype firstDifference(const Unit* u, const Unit* l, qsizetype common) {
    constexpr qsizetype PerWord = qsizetype(8 / sizeof(Unit));
    qsizetype i = 0;
    for (; i + PerWord <= common; i += PerWord) {
        quint64 a;
        quint64 b;
        std::memcpy(&a, u + i, sizeof a);
        std::memcpy(&b, l + i, sizeof b);
        if (a != b) {
            if constexpr (std::endian::native == std::endian::little)
                return i + qsizetype(std::countr_zero(a ^ b) / (8 * sizeof(Unit)));
            break;
        }
    }
    while (i < common && u[i] == l[i])
        ++i;
    return i;
}

#if defined(__SSE2__)
// Eight units of each, lower-cased when all sixteen are ASCII; nothing otherwise.
inline bool loweredAscii(const char16_t* p, const char16_t* q, __m128i& a, __m128i& b) {
    a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const __m128i beyond = _mm_and_si128(_mm_or_si128(a, b), _mm_set1_epi16(short(0xFF80)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(beyond, _mm_setzero_si128())) != 0xFFFF)
        return false;
    const auto lowered = [](__m128i v) {
        const __m128i capital = _mm_and_si128(_mm_cmpgt_epi16(v, _mm_set1_epi16('A' - 1)),
                                              _mm_cmplt_epi16(v, _mm_set1_epi16('Z' + 1)));
        return _mm_add_epi16(v, _mm_and_si128(capital, _mm_set1_epi16(0x20)));
    };
    a = lowered(a);
    b = lowered(b);
    return true;
}
#endif

int compareWide(QStringView first, QStringView second) {
    const qsizetype common = std::min(first.size(), second.size());
    const char16_t* u = first.utf16();
    const char16_t* l = second.utf16();
    qsizetype start = firstDifference(u, l, common);
    // A high surrogate lowers with its partner, which may be the first unit that differs.
    if (start > 0 && QChar::isHighSurrogate(u[start - 1]))
        --start;
    qsizetype i = start;
#if defined(__SSE2__)
    // Lists are mostly ASCII, and neighbours often differ only in case for a while.
    for (__m128i a, b; i + 8 <= common && loweredAscii(u + i, l + i, a, b); i += 8) {
        const auto same = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(a, b)));
        if (same != 0xFFFF) {
            alignas(16) char16_t la[8];
            alignas(16) char16_t lb[8];
            _mm_store_si128(reinterpret_cast<__m128i*>(la), a);
            _mm_store_si128(reinterpret_cast<__m128i*>(lb), b);
            const int k = std::countr_zero(~same) / 2;
            return la[k] > lb[k] ? 1 : -1;
        }
    }
#endif
    for (; i < common; ++i) {
        if (u[i] == l[i] && !QChar::isSurrogate(u[i]))
            continue; // equal units lower-case alike, unless they are halves of a pair
        const char16_t a = loweredUnit(first, i);
        const char16_t b = loweredUnit(second, i);
        if (a != b)
            return a > b ? 1 : -1;
    }
    return first.size() == second.size() ? 0 : (first.size() > second.size() ? 1 : -1);
}

// Latin-1 lowers within Latin-1 (the sharp s and the y with diaeresis lower to themselves),
// so a one-byte line lowers byte by byte.
const std::array<uchar, 256>& latin1Lowered() {
    static const std::array<uchar, 256> table = [] {
        std::array<uchar, 256> lowered{};
        for (int c = 0; c < 256; ++c)
            lowered[size_t(c)] = uchar(QChar::toLower(char16_t(c)));
        return lowered;
    }();
    return table;
}

// Eight bytes lowered at once, as the table above lowers each: A to Z and À to Þ but the
// multiplication sign gain 0x20, every other byte stays. The tests are done on each byte's
// seven low bits, whose sums never carry into the next byte.
inline quint64 loweredLatin1Word(quint64 x) {
    constexpr quint64 Ones = 0x0101010101010101;
    constexpr quint64 Highs = Ones * 0x80;
    const quint64 high = x & Highs;
    const quint64 low = x & ~Highs;
    const auto atLeast = [low](quint64 c) { return (low + Ones * (0x80 - c)) & Highs; };
    const quint64 notTimes = ((low ^ Ones * 0x57) + Ones * 0x7F) & Highs; // not 0xD7
    const quint64 ascii = ~high & atLeast(0x41) & ~atLeast(0x5B);
    const quint64 latin1 = high & atLeast(0x40) & ~atLeast(0x5F) & notTimes;
    return x | ((ascii | latin1) >> 2);
}

// Big-endian, so that comparing two words compares their bytes in order.
inline quint64 wordAt(const uchar* p) {
    return qFromBigEndian<quint64>(p);
}

// The `n` bytes at `p` (1 to 7) as the first bytes of a word, the rest zero: nothing past
// the line is read, it may end where its memory does.
inline quint64 partWordAt(const uchar* p, qsizetype n) {
    if (n >= 4) {
        const quint64 head = qFromBigEndian<quint32>(p);
        const quint64 tail = qFromBigEndian<quint32>(p + n - 4);
        return head << 32 | tail << (8 * (8 - n));
    }
    return quint64(p[0]) << 56 | quint64(p[n / 2]) << (56 - 8 * (n / 2)) |
           quint64(p[n - 1]) << (56 - 8 * (n - 1));
}

// Eight bytes at a time, lowered whole: neighbours in a list often differ only in case for
// a while, and lowering every word costs less than the branches that would skip it.
int compareNarrow(const uchar* u, qsizetype uSize, const uchar* l, qsizetype lSize) {
    const qsizetype common = std::min(uSize, lSize);
    qsizetype i = 0;
    for (; i + 8 <= common; i += 8) {
        const quint64 a = loweredLatin1Word(wordAt(u + i));
        const quint64 b = loweredLatin1Word(wordAt(l + i));
        if (a != b)
            return a > b ? 1 : -1;
    }
    if (i < common) {
        // The last eight bytes, overlapping those found equal already, or all there are.
        const bool whole = common >= 8;
        const quint64 a = loweredLatin1Word(whole ? wordAt(u + common - 8) : partWordAt(u, common));
        const quint64 b = loweredLatin1Word(whole ? wordAt(l + common - 8) : partWordAt(l, common));
        if (a != b)
            return a > b ? 1 : -1;
    }
    return uSize == lSize ? 0 : (uSize > lSize ? 1 : -1);
}

inline char16_t loweredAt(LineText text, qsizetype i) {
    return text.isWide() ? loweredUnit(text.wide(), i) : latin1Lowered()[text.bytes()[i]];
}

// One line of each form: rare (a list mixing scripts), so unit by unit.
int compareMixed(LineText first, LineText second) {
    const qsizetype common = std::min(first.size(), second.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t a = loweredAt(first, i);
        const char16_t b = loweredAt(second, i);
        if (a != b)
            return a > b ? 1 : -1;
    }
    return first.size() == second.size() ? 0 : (first.size() > second.size() ? 1 : -1);
}

} // namespace

LoweredPrefix loweredPrefixOf(LineText text) {
    constexpr int Room = 12;
    uchar bytes[Room + 2] = {}; // a unit's last bytes may run past the room
    int n = 0;
    for (qsizetype i = 0; i < text.size() && n < Room; ++i) {
        const char16_t unit = loweredAt(text, i);
        if (unit < 0x80) {
            bytes[n++] = uchar(unit);
        } else if (unit < 0x800) {
            bytes[n++] = uchar(0xC0 | unit >> 6);
            bytes[n++] = uchar(0x80 | (unit & 0x3F));
        } else {
            bytes[n++] = uchar(0xE0 | unit >> 12);
            bytes[n++] = uchar(0x80 | ((unit >> 6) & 0x3F));
            bytes[n++] = uchar(0x80 | (unit & 0x3F));
        }
    }
    return {qFromBigEndian<quint64>(bytes), qFromBigEndian<quint32>(bytes + 8)};
}

int compareLowered(LineText first, LineText second) {
    if (first.isWide() && second.isWide())
        return compareWide(first.wide(), second.wide());
    if (!first.isWide() && !second.isWide())
        return compareNarrow(first.bytes(), first.size(), second.bytes(), second.size());
    return compareMixed(first, second);
}

} // namespace varnel
