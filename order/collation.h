#pragma once

#include <QCollator>
#include <QLocale>
#include <QStringView>

#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "linetext.h"

namespace varnel {

// The locale whose collation the user chose, from the values of LC_ALL, LC_COLLATE and
// LANG: the first one set decides, as it does for every other program. Its codeset says
// nothing of the order, nor do modifiers but a script ("sv_SE.UTF-8@euro" is sv_SE,
// "sr_RS@latin" Serbian in Latin letters). The C or POSIX locale,
// or none (containers, CI), gives English, so an accented letter still sorts with its base
// letter rather than after z.
QLocale collationLocale(const QString& all, const QString& collate, const QString& lang);

// The collation of "Show Correct Order": case-insensitive, locale-aware, for the locale
// the environment names as above.
QCollator makeCorrectOrderCollator();
int compareInCorrectOrder(QStringView a, QStringView b);

// Most lines are short, and a copy whose steps depend on the length costs a comparison more
// in mispredicted branches than the comparison itself: a line of up to 32 characters is
// widened with two loads whatever its length, when the 32 bytes from its start lie within
// one page, where reading past its end cannot fault. `out` takes 32 units, those past the
// line's end as scratch. (Reading past an allocation is what the address sanitizer
// reports; here it is harmless.)
__attribute__((no_sanitize("address"))) inline bool widenShortLatin1(LineText text, char16_t* out) {
#if defined(__SSE2__)
    constexpr quintptr Page = 4096;
    if (text.size() > 32 || (quintptr(text.bytes()) & (Page - 1)) > Page - 32)
        return false;
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.bytes()));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.bytes() + 16));
    auto* const units = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(units, _mm_unpacklo_epi8(low, zero));
    _mm_storeu_si128(units + 1, _mm_unpackhi_epi8(low, zero));
    _mm_storeu_si128(units + 2, _mm_unpacklo_epi8(high, zero));
    _mm_storeu_si128(units + 3, _mm_unpackhi_epi8(high, zero));
    return true;
#else
    return false;
#endif
}

// `collator`'s order of two lines in either form. The collation reads UTF-16 only, so a
// one-byte line is widened for it on the way, into buffers this object keeps: one object
// a thread, for a whole sort.
class CollatedComparison {
public:
    explicit CollatedComparison(const QCollator& collator)
        : m_collator(collator) {}
    CollatedComparison(const CollatedComparison&) = delete;
    CollatedComparison& operator=(const CollatedComparison&) = delete;

    int operator()(LineText a, LineText b) {
        return m_collator.compare(a.isWide() ? a.wide() : m_first.widened(a),
                                  b.isWide() ? b.wide() : m_second.widened(b));
    }

private:
    // The line widened last is kept: a sort compares one line many times in a row on the
    // same side (the pivot, the line being inserted).
    class Buffer {
    public:
        QStringView widened(LineText text) {
            if (text.bytes() == m_source && text.size() == m_kept.size())
                return m_kept;
            m_source = text.bytes();
            if (widenShortLatin1(text, m_fixed))
                m_kept = QStringView(m_fixed, text.size());
            else
                m_kept = widenedLong(text);
            return m_kept;
        }

    private:
        QStringView widenedLong(LineText text);
        static constexpr qsizetype FixedUnits = 256;
        alignas(16) char16_t m_fixed[FixedUnits];
        std::vector<char16_t> m_grown; // for a longer line
        const uchar* m_source = nullptr;
        QStringView m_kept;
    };

    const QCollator& m_collator;
    Buffer m_first;
    Buffer m_second;
};

} // namespace varnel
