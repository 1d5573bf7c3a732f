#include "utf8pieces.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

namespace {

#if !defined(__SSE2__)
constexpr quint64 HighBits = 0x8080808080808080u;
#endif

// The length of a sequence by its first byte and the least code point it may carry; 0
// for a byte that starts none.
struct Lead {
    int length;
    char32_t least;
    char32_t bits;
};

inline Lead leadOf(unsigned char b) {
    if (b >= 0xC2 && b <= 0xDF)
        return {2, 0x80, char32_t(b & 0x1F)};
    if (b >= 0xE0 && b <= 0xEF)
        return {3, 0x800, char32_t(b & 0x0F)};
    if (b >= 0xF0 && b <= 0xF4)
        return {4, 0x10000, char32_t(b & 0x07)};
    return {0, 0, 0};
}

} // namespace

Utf8Piece decodeUtf8Piece(const char* in, qsizetype size, char16_t* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(in);
    qsizetype i = 0;
    qsizetype o = 0;
    while (i < size) {
        // Plain text is mostly ASCII: sixteen bytes at a time, widened whole, then as far as
        // the first that is not ASCII. The room for `size` units takes the spare ones.
#if defined(__SSE2__)
        while (i + 16 <= size) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i zero = _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm_unpacklo_epi8(bytes, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + 8),
                             _mm_unpackhi_epi8(bytes, zero));
            const auto high = unsigned(_mm_movemask_epi8(bytes));
            const int ascii = high == 0 ? 16 : std::countr_zero(high);
            i += ascii;
            o += ascii;
            if (ascii < 16)
                break;
        }
#else
        for (quint64 word; i + 8 <= size; i += 8, o += 8) {
            std::memcpy(&word, p + i, sizeof word);
            if (word & HighBits)
                break;
            for (int k = 0; k < 8; ++k)
                out[o + k] = p[i + k];
        }
#endif
        if (i == size)
            break;
        if (p[i] < 0x80) {
            out[o++] = p[i++];
            continue;
        }
        // Latin letters beyond ASCII take two bytes.
        if (p[i] >= 0xC2 && p[i] <= 0xDF && i + 1 < size && (p[i + 1] & 0xC0) == 0x80) {
            out[o++] = char16_t((p[i] & 0x1F) << 6 | (p[i + 1] & 0x3F));
            i += 2;
            continue;
        }
        const Lead lead = leadOf(p[i]);
        if (lead.length == 0)
            return {i, o, false};
        if (i + lead.length > size)
            return {i, o, true};
        char32_t cp = lead.bits;
        for (int k = 1; k < lead.length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return {i, o, false};
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < lead.least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return {i, o, false};
        if (cp >= 0x10000) {
            out[o++] = char16_t(0xD7C0 + (cp >> 10));
            out[o++] = char16_t(0xDC00 | (cp & 0x3FF));
        } else {
            out[o++] = char16_t(cp);
        }
        i += lead.length;
    }
    return {i, o, true};
}

Utf8Piece decodeUtf8Latin1Piece(const char* in, qsizetype size, char* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(in);
    qsizetype i = 0;
    qsizetype o = 0;
    while (i < size) {
#if defined(__SSE2__)
        while (i + 16 <= size) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), bytes);
            const auto high = unsigned(_mm_movemask_epi8(bytes));
            const int ascii = high == 0 ? 16 : std::countr_zero(high);
            i += ascii;
            o += ascii;
            if (ascii < 16)
                break;
        }
#endif
        if (i == size)
            break;
        if (p[i] < 0x80) {
            out[o++] = char(p[i++]);
            continue;
        }
        // U+0080 to U+00FF are C2 or C3 and one continuation byte.
        if (p[i] != 0xC2 && p[i] != 0xC3)
            return {i, o, false};
        if (i + 1 == size)
            return {i, o, true};
        if ((p[i + 1] & 0xC0) != 0x80)
            return {i, o, false};
        out[o++] = char((p[i] & 0x03) << 6 | (p[i + 1] & 0x3F));
        i += 2;
    }
    return {i, o, true};
}

} // namespace varnel
