#include "utf8check.h"

#include "utf8bytes.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VARNEL_UTF8_VECTORS 1
#endif

namespace varnel {

namespace {

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
    m_valid = m_valid && m_needed == 0;
    return m_valid;
}

bool Utf8Check::feedPlainly(QByteArrayView bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    for (; p < end; ++p) {
        if (m_needed == 0) {
            p = reinterpret_cast<const unsigned char*>(
                skipAscii(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(end)));
            if (p == end)
                break;
            const Utf8Lead lead = Utf8Leads[*p];
            if (lead.length == 0)
                return false;
            m_needed = lead.length - 1;
            m_low = lead.low;
            m_high = lead.high;
            continue;
        }
        if (*p < m_low || *p > m_high)
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

// The tables, looked up by a nibble of the byte before and of the byte itself.
constexpr unsigned char firstHigh[16] = {TooLong,
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
constexpr unsigned char firstLow[16] = {Carry | Overlong3 | Overlong2 | Overlong4,
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
constexpr unsigned char secondHigh[16] = {
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

// The error bits of sixteen bytes, given the sixteen before them.
__attribute__((target("ssse3"), always_inline)) inline __m128i errorsOf(__m128i input,
                                                                        __m128i previous) {
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

// The same for thirty-two bytes, in two lanes of sixteen: each lane's bytes before come
// from the lane below, the first lane's from the thirty-two before.
__attribute__((target("avx2"), always_inline)) inline __m256i
wideTable(const unsigned char (&t)[16]) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
}

__attribute__((target("avx2"), always_inline)) inline __m256i wideHighNibbles(__m256i v) {
    return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
}

__attribute__((target("avx2"), always_inline)) inline __m256i wideErrorsOf(__m256i input,
                                                                           __m256i previous) {
    const __m256i below = _mm256_permute2x128_si256(previous, input, 0x21);
    const __m256i prev1 = _mm256_alignr_epi8(input, below, 15);
    const __m256i special = _mm256_and_si256(
        _mm256_and_si256(_mm256_shuffle_epi8(wideTable(firstHigh), wideHighNibbles(prev1)),
                         _mm256_shuffle_epi8(wideTable(firstLow),
                                             _mm256_and_si256(prev1, _mm256_set1_epi8(0x0F)))),
        _mm256_shuffle_epi8(wideTable(secondHigh), wideHighNibbles(input)));
    const __m256i prev2 = _mm256_alignr_epi8(input, below, 14);
    const __m256i prev3 = _mm256_alignr_epi8(input, below, 13);
    const __m256i third = _mm256_subs_epu8(prev2, _mm256_set1_epi8(char(0xE0 - 0x80)));
    const __m256i fourth = _mm256_subs_epu8(prev3, _mm256_set1_epi8(char(0xF0 - 0x80)));
    const __m256i must =
        _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(char(0x80)));
    return _mm256_xor_si256(must, special);
}

// Whether the `whole` bytes at `p`, a multiple of sixteen, show no error after `previous`.
__attribute__((target("ssse3"))) bool noErrors(const unsigned char* p, qsizetype whole,
                                               __m128i previous) {
    VectorState state{previous, _mm_setzero_si128()};
    for (qsizetype i = 0; i < whole; i += 16)
        take(state, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(state.errors, _mm_setzero_si128())) == 0xFFFF;
}

// The same thirty-two bytes a step, twice as fast where the processor has the instructions.
__attribute__((target("avx2"))) bool noErrorsWide(const unsigned char* p, qsizetype whole,
                                                  __m128i previous) {
    const qsizetype wide = whole / 32 * 32;
    __m256i before = _mm256_broadcastsi128_si256(previous);
    __m256i errors = _mm256_setzero_si256();
    for (qsizetype i = 0; i < wide; i += 32) {
        const __m256i input = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        errors = _mm256_or_si256(errors, wideErrorsOf(input, before));
        before = input;
    }
    VectorState state{
        _mm256_extracti128_si256(before, 1),
        _mm_or_si128(_mm256_castsi256_si128(errors), _mm256_extracti128_si256(errors, 1))};
    if (wide < whole)
        take(state, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + wide)));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(state.errors, _mm_setzero_si128())) == 0xFFFF;
}

bool haveWideVectors() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}

} // namespace

__attribute__((target("ssse3"))) bool Utf8Check::feedVectors(QByteArrayView bytes) {
    // The end of a sequence the last piece cut off.
    qsizetype at = 0;
    while (m_needed > 0 && at < bytes.size()) {
        if (!feedPlainly(bytes.sliced(at++, 1)))
            return false;
    }
    remember(bytes.first(at));
    const qsizetype whole = (bytes.size() - at) / 16 * 16;
    if (whole > 0) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
        const __m128i previous =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(m_previous.data()));
        if (!(haveWideVectors() ? noErrorsWide(p, whole, previous) : noErrors(p, whole, previous)))
            return false;
        if (!resumeAfter(p + whole))
            return false;
    }
    // The rest at once too, so that every byte given is judged before this returns.
    if (!feedPlainly(bytes.sliced(at + whole)))
        return false;
    remember(bytes.sliced(at));
    return true;
}

#else

bool Utf8Check::feedVectors(QByteArrayView bytes) {
    return feedPlainly(bytes);
}

#endif

void Utf8Check::remember(QByteArrayView bytes) {
    const size_t n = size_t(bytes.size());
    if (n >= m_previous.size()) {
        std::memcpy(m_previous.data(), bytes.data() + n - m_previous.size(), m_previous.size());
    } else if (n > 0) {
        std::memmove(m_previous.data(), m_previous.data() + n, m_previous.size() - n);
        std::memcpy(m_previous.data() + m_previous.size() - n, bytes.data(), n);
    }
}

bool Utf8Check::resumeAfter(const unsigned char* end) {
    // Bytes checked, each against the one after it: a sequence still open starts at most
    // three back, and its first byte has had nothing to be checked against yet.
    m_needed = 0;
    m_low = 0x80;
    m_high = 0xBF;
    for (int back = 1; back <= 3; ++back) {
        const unsigned char b = end[-back];
        if ((b & 0xC0) == 0x80)
            continue;
        const Utf8Lead lead = Utf8Leads[b];
        if (lead.length == 0)
            return false;
        if (lead.length <= back)
            return true;
        m_needed = lead.length - back;
        if (back == 1) {
            m_low = lead.low;
            m_high = lead.high;
        }
        return true;
    }
    return true;
}

} // namespace varnel
