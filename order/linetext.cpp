#include "linetext.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

bool fitsLatin1(QStringView text) {
    const char16_t* p = text.utf16();
    const char16_t* const end = p + text.size();
#if defined(__SSE2__)
    for (; end - p >= 8; p += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i high = _mm_and_si128(units, _mm_set1_epi16(short(0xFF00)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF)
            return false;
    }
#endif
    for (; p < end; ++p)
        if (*p > 0xFF)
            return false;
    return true;
}

void widenLatin1(QLatin1StringView text, char16_t* out) {
    const auto* p = reinterpret_cast<const uchar*>(text.data());
    const qsizetype size = text.size();
#if defined(__SSE2__)
    const auto sixteen = [p, out](qsizetype at) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        const __m128i zero = _mm_setzero_si128();
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at + 8), _mm_unpackhi_epi8(bytes, zero));
    };
    if (size >= 16) {
        // The last sixteen overlap those before them rather than leaving a tail.
        for (qsizetype at = 0; at < size - 16; at += 16)
            sixteen(at);
        sixteen(size - 16);
        return;
    }
#endif
    for (qsizetype i = 0; i < size; ++i)
        out[i] = char16_t(p[i]);
}

} // namespace varnel
