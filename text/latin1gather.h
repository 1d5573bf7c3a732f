#pragma once

// The sixteen-byte step shared by the decoders of Latin-1 text written as UTF-8: which bytes
// of a block stay once the lead bytes of its two-byte sequences are dropped.

#include <QtGlobal>

#include <array>
#include <bit>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VARNEL_LATIN1_VECTORS 1
#endif

namespace varnel {

#if defined(VARNEL_LATIN1_VECTORS)

// For each eight-bit mask, the shuffle that gathers the bytes it marks to the front.
inline constexpr std::array<quint64, 256> Latin1Gathers = [] {
    std::array<quint64, 256> gathers{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        quint64 shuffle = 0x8080808080808080ULL;
        int at = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if (mask & (1u << bit)) {
                shuffle &= ~(quint64(0xFF) << (8 * at));
                shuffle |= quint64(bit) << (8 * at);
                ++at;
            }
        }
        gathers[mask] = shuffle;
    }
    return gathers;
}();

// Writes the eight bytes of `v`'s low half that `keep` marks to `out`, and how many. All
// eight bytes at `out` are written.
__attribute__((target("ssse3,popcnt"), always_inline)) inline int
gatherHalf(__m128i v, unsigned keep, char* out) {
    const __m128i shuffle = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&Latin1Gathers[keep]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, shuffle));
    return std::popcount(keep);
}

inline bool haveLatin1Vectors() {
    static const bool have = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
    return have;
}

#else

inline bool haveLatin1Vectors() {
    return false;
}

#endif

} // namespace varnel
