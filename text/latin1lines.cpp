#include "latin1lines.h"

#include "latin1gather.h"

#include <bit>

namespace varnel {

Latin1LineCutter::Latin1LineCutter(char* data, qsizetype from, qsizetype to,
                                   std::vector<LineSpan>& lines, Utf8Way way)
    : m_data(data)
    , m_to(to)
    , m_in(from)
    , m_out(to)
    , m_lineStart(to)
    , m_lines(lines)
    , m_vectors(way == Utf8Way::Fastest && haveLatin1Vectors()) {}

bool Latin1LineCutter::take(qsizetype end, bool atEnd) {
    if (m_vectors && !takeVectors(end))
        return false;
    if (!takePlainly(end, atEnd))
        return false;
    // What follows the last break is a line when it is not empty.
    if (atEnd && m_lineStart < m_out) {
        m_lines.push_back({quint32(m_lineStart), quint32(m_out - m_lineStart)});
        m_lineStart = m_out;
    }
    return true;
}

bool Latin1LineCutter::takePlainly(qsizetype end, bool atEnd) {
    const auto* p = reinterpret_cast<const unsigned char*>(m_data);
    while (m_in < end) {
        const unsigned char c = p[m_in];
        if (c < 0x80) {
            m_data[m_out] = char(c);
            if (c == '\n' || c == '\r')
                lineBreakAt(m_out);
            ++m_in;
            ++m_out;
            continue;
        }
        // U+0080 to U+00FF are C2 or C3 and one continuation byte.
        if (c != 0xC2 && c != 0xC3)
            return false;
        if (m_in + 1 == end)
            return !atEnd; // cut short, by the end of the file or of what was read so far
        if ((p[m_in + 1] & 0xC0) != 0x80)
            return false;
        m_data[m_out++] = char((c & 0x03) << 6 | (p[m_in + 1] & 0x3F));
        m_in += 2;
    }
    return true;
}

#if defined(VARNEL_LATIN1_VECTORS)

// As decodeUtf8Latin1Piece's vectors, with the breaks of each block found on the way: their
// places among the bytes kept are where they are written.
__attribute__((target("ssse3,popcnt"))) bool Latin1LineCutter::takeVectors(qsizetype end) {
    const __m128i leadFloor = _mm_set1_epi8(char(0xBF)); // signed: above it, C0 to FF
    const __m128i lowLeadBits = _mm_set1_epi8(char(0xFE));
    const __m128i c2 = _mm_set1_epi8(char(0xC2));
    const __m128i c3 = _mm_set1_epi8(char(0xC3));
    const __m128i c3Adds = _mm_set1_epi8(0x40);
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    char* const data = m_data;
    qsizetype in = m_in;
    qsizetype out = m_out;
    while (in + 16 <= end) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + in));
        const unsigned high = unsigned(_mm_movemask_epi8(v));
        unsigned breaks =
            unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr))));
        if (high == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(data + out), v);
            for (; breaks != 0; breaks &= breaks - 1)
                lineBreakAt(out + std::countr_zero(breaks));
            in += 16;
            out += 16;
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
        const int low = gatherHalf(units, keep & 0xFF, data + out);
        const int written = low + gatherHalf(_mm_srli_si128(units, 8), keep >> 8, data + out + low);
        if (leads & 0x8000) {
            // The eight bytes of the second half may reach that lead, which the next block
            // starts with; it lies past what was written.
            data[in + 15] = char(_mm_extract_epi16(v, 7) >> 8);
            in += 15;
        } else {
            in += 16;
        }
        for (; breaks != 0; breaks &= breaks - 1) {
            const unsigned at = unsigned(std::countr_zero(breaks));
            lineBreakAt(out + std::popcount(keep & ((1u << at) - 1)));
        }
        out += written;
    }
    m_in = in;
    m_out = out;
    return true;
}

#else

bool Latin1LineCutter::takeVectors(qsizetype) {
    return true;
}

#endif

void Latin1LineCutter::restore() {
    // From the end back: each character goes back to its one or two bytes, which lie at or
    // after it, so none is overwritten before it is read.
    qsizetype in = m_in;
    for (qsizetype out = m_out; out > m_to;) {
        const auto c = static_cast<unsigned char>(m_data[--out]);
        if (c < 0x80) {
            m_data[--in] = char(c);
        } else {
            m_data[--in] = char(0x80 | (c & 0x3F));
            m_data[--in] = char(0xC0 | (c >> 6));
        }
    }
    m_out = m_to;
    m_in = in;
    m_lineStart = m_to;
    m_lastCr = -2;
}

} // namespace varnel
