#include "utf8check.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VARNEL_UTF8_VECTORS 1
#endif

namespace varnel {

namespace {

constexpr quint64 HighBits = 0x8080808080808080ULL;

#if defined(VARNEL_UTF8_VECTORS)
bool haveVectors() {
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}
#else
bool haveVectors() {
    return false;
}
#endif

} // namespace

Utf8Check::Utf8Check(Way way)
    : m_vectors(way == Way::Fastest && haveVectors()) {}

bool Utf8Check::feed(QByteArrayView bytes) {
    if (m_valid)
        m_valid = m_vectors ? feedVectors(bytes) : feedPlainly(bytes);
    return m_valid;
}

bool Utf8Check::complete() {
    if (m_valid)
        m_valid = m_vectors ? completeVectors() : m_needed == 0;
    return m_valid;
}

bool Utf8Check::feedPlainly(QByteArrayView bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    for (; p < end; ++p) {
        const unsigned char b = *p;
        if (m_needed == 0) {
            // ASCII eight bytes a step.
            if constexpr (std::endian::native == std::endian::little) {
                quint64 word;
                while (end - p >= 8 && (std::memcpy(&word, p, 8), !(word & HighBits)))
                    p += 8;
                if (p == end)
                    break;
            }
            const unsigned char lead = *p;
            if (lead < 0x80)
                continue;
            m_needed = lead >= 0xC2 && lead <= 0xDF   ? 1
                       : lead >= 0xE0 && lead <= 0xEF ? 2
                       : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                      : -1;
            if (m_needed < 0)
                return false;
            m_low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
            m_high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
            continue;
        }
        if (b < m_low || b > m_high)
            return false;
        m_low = 0x80;
        m_high = 0xBF;
        --m_needed;
    }
    return true;
}

#if defined(VARNEL_UTF8_VECTORS)

namespace {

// Keiser and Lemire, "Validating UTF-8 in less than one instruction per byte" (2021): each
// byte with the one before it is looked up in three small tables whose bits name the errors
// the pair can show; the pairs and what the two bytes before demand must agree.
constexpr unsigned char TooShort = 1 << 0;         // 11______ 0_______ or 11______ 11______
constexpr unsigned char TooLong = 1 << 1;          // 0_______ 10______
constexpr unsigned char Overlong3 = 1 << 2;        // 11100000 100_____
constexpr unsigned char TooLarge = 1 << 3;         // 11110100 1001____ and above
constexpr unsigned char Surrogate = 1 << 4;        // 11101101 101_____
constexpr unsigned char Overlong2 = 1 << 5;        // 1100000_ 10______
constexpr unsigned char TooLarge1000 = 1 << 6;     // 11110101 1000____ and above
constexpr unsigned char Overlong4 = 1 << 6;        // 11110000 1000____
constexpr unsigned char TwoContinuations = 1 << 7; // 10______ 10______
constexpr unsigned char Carry = TooShort | TooLong | TwoContinuations;

__attribute__((target("ssse3"), always_inline)) inline __m128i table(const unsigned char (&t)[16]) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(t));
}

__attribute__((target("ssse3"), always_inline)) inline __m128i highNibbles(__m128i v) {
    return _mm_and_si128(_mm_srli_epi16(v, 4), _mm_set1_epi8(0x0F));
}

// The error bits of sixteen bytes, given the sixteen before them.
__attribute__((target("ssse3"), always_inline)) inline __m128i errorsOf(__m128i input,
                                                                        __m128i previous) {
    static constexpr unsigned char firstHigh[16] = {TooLong,
                                                    TooLong,
                                                    TooLong,
                                                    TooLong,
                                                    TooLong,
                                                    TooLong,
                                                    TooLong,
                                                    TooLong,
                                                    TwoContinuations,
                                                    TwoContinuations,
                                                    TwoContinuations,
                                                    TwoContinuations,
                                                    TooShort | Overlong2,
                                                    TooShort,
                                                    TooShort | Overlong3 | Surrogate,
                                                    TooShort | TooLarge | TooLarge1000 | Overlong4};
    static constexpr unsigned char firstLow[16] = {Carry | Overlong3 | Overlong2 | Overlong4,
                                                   Carry | Overlong2,
                                                   Carry,
                                                   Carry,
                                                   Carry | TooLarge,
                                                   Carry | TooLarge | TooLarge1000,
                                                   Carry | TooLarge | TooLarge1000,
                                                   Carry | TooLarge | TooLarge1000,
                                                   Carry | TooLarge | TooLarge1000,
                                                   Carry | TooLarge | TooLarge1000,
                                                   Carry | TooLarge | TooLarge1000,
                                                   Carry | TooLarge | TooLarge1000,
                                                   Carry | TooLarge | TooLarge1000,
                                                   Carry | TooLarge | TooLarge1000 | Surrogate,
                                                   Carry | TooLarge | TooLarge1000,
                                                   Carry | TooLarge | TooLarge1000};
    static constexpr unsigned char secondHigh[16] = {
        TooShort,
        TooShort,
        TooShort,
        TooShort,
        TooShort,
        TooShort,
        TooShort,
        TooShort,
        TooLong | Overlong2 | TwoContinuations | Overlong3 | TooLarge1000 | Overlong4,
        TooLong | Overlong2 | TwoContinuations | Overlong3 | TooLarge,
        TooLong | Overlong2 | TwoContinuations | Surrogate | TooLarge,
        TooLong | Overlong2 | TwoContinuations | Surrogate | TooLarge,
        TooShort,
        TooShort,
        TooShort,
        TooShort};
    const __m128i prev1 = _mm_alignr_epi8(input, previous, 15);
    const __m128i special = _mm_and_si128(
        _mm_and_si128(_mm_shuffle_epi8(table(firstHigh), highNibbles(prev1)),
                      _mm_shuffle_epi8(table(firstLow), _mm_and_si128(prev1, _mm_set1_epi8(0x0F)))),
        _mm_shuffle_epi8(table(secondHigh), highNibbles(input)));
    // The third and fourth bytes of a sequence must be continuations, and only they may
    // follow another continuation.
    const __m128i prev2 = _mm_alignr_epi8(input, previous, 14);
    const __m128i prev3 = _mm_alignr_epi8(input, previous, 13);
    const __m128i third = _mm_subs_epu8(prev2, _mm_set1_epi8(char(0xE0 - 0x80)));
    const __m128i fourth = _mm_subs_epu8(prev3, _mm_set1_epi8(char(0xF0 - 0x80)));
    const __m128i must = _mm_and_si128(_mm_or_si128(third, fourth), _mm_set1_epi8(char(0x80)));
    return _mm_xor_si128(must, special);
}

struct VectorState {
    __m128i previous;
    __m128i errors;
};

// Without a branch for ASCII: in most lists a letter beyond ASCII comes every few bytes.
__attribute__((target("ssse3"), always_inline)) inline void take(VectorState& state,
                                                                 __m128i input) {
    state.errors = _mm_or_si128(state.errors, errorsOf(input, state.previous));
    state.previous = input;
}

} // namespace

__attribute__((target("ssse3"))) bool Utf8Check::feedVectors(QByteArrayView bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    const auto load = [](const auto& a) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(a.data()));
    };
    VectorState state{load(m_previous), load(m_errors)};
    if (m_pendingSize > 0) {
        const qsizetype more = std::min<qsizetype>(16 - m_pendingSize, end - p);
        std::memcpy(m_pending.data() + m_pendingSize, p, size_t(more));
        m_pendingSize += int(more);
        p += more;
        if (m_pendingSize == 16) {
            take(state, load(m_pending));
            m_pendingSize = 0;
        }
    }
    for (; end - p >= 16; p += 16)
        take(state, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    if (p < end) {
        std::memcpy(m_pending.data(), p, size_t(end - p));
        m_pendingSize = int(end - p);
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(m_previous.data()), state.previous);
    _mm_store_si128(reinterpret_cast<__m128i*>(m_errors.data()), state.errors);
    return _mm_movemask_epi8(_mm_cmpeq_epi8(state.errors, _mm_setzero_si128())) == 0xFFFF;
}

bool Utf8Check::completeVectors() {
    // NULs to finish the last sixteen bytes, or sixteen more: they are ASCII, so a sequence
    // cut short by the end shows as one.
    static constexpr char nuls[16] = {};
    return feedVectors(QByteArrayView(nuls, 16 - m_pendingSize));
}

#else

bool Utf8Check::feedVectors(QByteArrayView bytes) {
    return feedPlainly(bytes);
}

bool Utf8Check::completeVectors() {
    return m_needed == 0;
}

#endif

} // namespace varnel
