#include "utf8pieces.h"

#include "utf8bytes.h"

#include <array>
#include <bit>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VARNEL_LATIN1_VECTORS 1
#endif

namespace varnel {

Utf8Piece decodeUtf8Piece(const char* in, qsizetype size, char16_t* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(in);
    qsizetype i = 0;
    qsizetype o = 0;
    while (i < size) {
        // The room for `size` units takes the spare ones the run of ASCII may write.
        const qsizetype ascii = copyAscii(in + i, size - i, out + o);
        i += ascii;
        o += ascii;
        if (i == size)
            break;
        const Utf8Lead lead = Utf8Leads[p[i]];
        if (lead.length == 0)
            return {i, o, false};
        if (i + lead.length > size)
            return {i, o, true};
        if (p[i + 1] < lead.low || p[i + 1] > lead.high)
            return {i, o, false};
        char32_t cp = leadBits(p[i], lead.length) << 6 | (p[i + 1] & 0x3F);
        for (int k = 2; k < lead.length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return {i, o, false};
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
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

namespace {

Utf8Piece decodeLatin1Plainly(const char* in, qsizetype size, char* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(in);
    qsizetype i = 0;
    qsizetype o = 0;
    while (i < size) {
        const qsizetype ascii = copyAscii(in + i, size - i, out + o);
        i += ascii;
        o += ascii;
        if (i == size)
            break;
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

#if defined(VARNEL_LATIN1_VECTORS)

// For each eight-bit mask, the shuffle that gathers the bytes it marks to the front.
constexpr std::array<quint64, 256> Gathers = [] {
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

// Writes the eight bytes of `v`'s low half that `keep` marks to `out`, and how many.
__attribute__((target("ssse3,popcnt"), always_inline)) inline int
gatherHalf(__m128i v, unsigned keep, char* out) {
    const __m128i shuffle = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&Gathers[keep]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, shuffle));
    return std::popcount(keep);
}

// Sixteen bytes at a time while they are ASCII and two-byte sequences led by C2 or C3, the
// letters of Western European lists: the continuation byte of a C3 sequence gains 0x40, that
// of a C2 sequence is the character already, and the lead bytes are dropped. Anything else,
// and the last piece of fewer than sixteen bytes, is left to the plain decoder.
__attribute__((target("ssse3,popcnt"))) Utf8Piece decodeLatin1Vectors(const char* in,
                                                                      qsizetype size, char* out) {
    qsizetype i = 0;
    qsizetype o = 0;
    const __m128i leadFloor = _mm_set1_epi8(char(0xBF)); // signed: above it, C0 to FF
    const __m128i lowLeadBits = _mm_set1_epi8(char(0xFE));
    const __m128i c2 = _mm_set1_epi8(char(0xC2));
    const __m128i c3 = _mm_set1_epi8(char(0xC3));
    const __m128i c3Adds = _mm_set1_epi8(0x40);
    while (i + 16 <= size) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const unsigned high = unsigned(_mm_movemask_epi8(v));
        if (high == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), v);
            i += 16;
            o += 16;
            continue;
        }
        const unsigned leads = high & unsigned(_mm_movemask_epi8(_mm_cmpgt_epi8(v, leadFloor)));
        const unsigned latin1Leads =
            unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, lowLeadBits), c2)));
        // A lead in the last byte starts the next block instead.
        const unsigned whole = leads & 0x7FFF;
        if ((leads & ~latin1Leads) != 0 || (high & ~leads) != whole << 1)
            break;
        const __m128i afterC3 = _mm_cmpeq_epi8(_mm_slli_si128(v, 1), c3);
        const __m128i units = _mm_add_epi8(v, _mm_and_si128(afterC3, c3Adds));
        const unsigned keep = ~leads & 0xFFFF;
        o += gatherHalf(units, keep & 0xFF, out + o);
        o += gatherHalf(_mm_srli_si128(units, 8), keep >> 8, out + o);
        i += leads & 0x8000 ? 15 : 16;
    }
    const Utf8Piece rest = decodeLatin1Plainly(in + i, size - i, out + o);
    return {i + rest.read, o + rest.written, rest.wellFormed};
}

bool haveLatin1Vectors() {
    static const bool have = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
    return have;
}

// The line cutting of decodeUtf8Latin1Lines, by masks of the sixty-four bytes: the bytes
// kept are gathered to the front with one instruction, and where a break falls in the text
// is the number of bytes kept before it.
__attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt"))) Utf8Piece
decodeLatin1LinesVectors(const char* in, qsizetype size, char* out, qsizetype at, LineCuts& cuts,
                         LinePlaces& lines) {
    const __m512i leadFloor = _mm512_set1_epi8(char(0xC0));
    const __m512i lowLeadBits = _mm512_set1_epi8(char(0xFE));
    const __m512i c2 = _mm512_set1_epi8(char(0xC2));
    const __m512i c3 = _mm512_set1_epi8(char(0xC3));
    const __m512i c3Adds = _mm512_set1_epi8(0x40);
    qsizetype i = 0;
    qsizetype o = 0;
    qsizetype start = cuts.start;
    bool afterCr = cuts.afterCr;
    bool wellFormed = true;
    while (i < size) {
        const bool whole = size - i >= 64;
        // The bytes past the end of the piece read as NUL: neither a lead nor a break.
        __mmask64 valid = whole ? ~__mmask64(0) : _bzhi_u64(~quint64(0), unsigned(size - i));
        const __m512i v = _mm512_maskz_loadu_epi8(valid, in + i);
        const __mmask64 high = _mm512_movepi8_mask(v);
        __mmask64 leads = _mm512_cmpge_epu8_mask(v, leadFloor);
        const __mmask64 latin1Leads = _mm512_cmpeq_epi8_mask(_mm512_and_si512(v, lowLeadBits), c2);
        if ((leads & ~latin1Leads) != 0) {
            wellFormed = false;
            break;
        }
        // A lead as the last byte starts the next block, or is cut short by the piece's end.
        const __mmask64 last = (valid >> 1) + 1; // the valid bytes are the lowest
        if ((leads & last) != 0) {
            valid &= ~last;
            leads &= ~last;
            if (valid == 0)
                break;
        }
        // Every lead followed by a continuation byte, and every continuation byte led.
        if ((high & valid & ~leads) != leads << 1) {
            wellFormed = false;
            break;
        }
        const __mmask64 afterC3 = _mm512_cmpeq_epi8_mask(v, c3) << 1;
        const __m512i units = _mm512_mask_add_epi8(v, afterC3, v, c3Adds);
        quint64 crs;
        quint64 lfs;
        breakMasks(v, crs, lfs);
        const __mmask64 keep = valid & ~leads & ~(lfs | crs);
        const __m512i text = _mm512_maskz_compress_epi8(keep, units);
        if (whole)
            _mm512_storeu_si512(out + o, text); // never past `size`: o <= i
        else
            _mm512_mask_storeu_epi8(out + o, _bzhi_u64(~quint64(0), unsigned(_mm_popcnt_u64(keep))),
                                    text);
        for (quint64 ends = lineEndBits(crs, lfs, afterCr); ends != 0; ends &= ends - 1) {
            const qsizetype end =
                at + o + qsizetype(_mm_popcnt_u64(_bzhi_u64(keep, unsigned(_tzcnt_u64(ends)))));
            lines.add(start, end - start);
            start = end;
        }
        const auto taken = qsizetype(_mm_popcnt_u64(valid));
        afterCr = (crs >> (taken - 1)) & 1;
        o += qsizetype(_mm_popcnt_u64(keep));
        i += taken;
    }
    cuts.start = start;
    cuts.afterCr = afterCr;
    return {i, o, wellFormed};
}

bool haveLineVectors() {
    static const bool have =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2");
    return have;
}

#else

Utf8Piece decodeLatin1Vectors(const char* in, qsizetype size, char* out) {
    return decodeLatin1Plainly(in, size, out);
}

bool haveLatin1Vectors() {
    return false;
}

Utf8Piece decodeLatin1LinesVectors(const char*, qsizetype, char*, qsizetype, LineCuts&,
                                   LinePlaces&) {
    return {0, 0, false};
}

bool haveLineVectors() {
    return false;
}

#endif

} // namespace

Utf8Piece decodeUtf8Latin1Piece(const char* in, qsizetype size, char* out, Utf8Way way) {
    if (way == Utf8Way::Fastest && haveLatin1Vectors())
        return decodeLatin1Vectors(in, size, out);
    return decodeLatin1Plainly(in, size, out);
}

Utf8Piece decodeUtf8Latin1Lines(const char* in, qsizetype size, char* out, qsizetype at,
                                LineCuts& cuts, LinePlaces& lines) {
    if (!haveLineVectors())
        return {0, 0, false};
    return decodeLatin1LinesVectors(in, size, out, at, cuts, lines);
}

bool haveLatin1LineVectors() {
    return haveLineVectors();
}

} // namespace varnel
