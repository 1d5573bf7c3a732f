#include "collationkeys.h"

#include "collation.h"

#include <QLocale>

#include <unicode/ucol.h>
#include <unicode/uiter.h>

#include <bit>
#include <cstring>

namespace varnel {

namespace {

// The collator QCollator opens for the same settings: the locale by its BCP 47 name with
// underscores, normalization on, secondary strength for case-insensitive comparison (the
// tertiary level is where case lives), numeric mode and punctuation as asked.
UCollator* openLike(const QCollator& like) {
    const QByteArray name = like.locale().bcp47Name().replace('-', '_').toLatin1();
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open(name.constData(), &status);
    if (U_FAILURE(status))
        return nullptr;
    const auto set = [&](UColAttribute attribute, UColAttributeValue value) {
        UErrorCode setStatus = U_ZERO_ERROR;
        ucol_setAttribute(collator, attribute, value, &setStatus);
        return U_SUCCESS(setStatus);
    };
    const bool settled =
        set(UCOL_NORMALIZATION_MODE, UCOL_ON) &&
        set(UCOL_STRENGTH,
            like.caseSensitivity() == Qt::CaseSensitive ? UCOL_DEFAULT_STRENGTH : UCOL_SECONDARY) &&
        set(UCOL_NUMERIC_COLLATION, like.numericMode() ? UCOL_ON : UCOL_OFF) &&
        set(UCOL_ALTERNATE_HANDLING, like.ignorePunctuation() ? UCOL_SHIFTED : UCOL_NON_IGNORABLE);
    if (!settled) {
        ucol_close(collator);
        return nullptr;
    }
    return collator;
}

} // namespace

CollationKeys::CollationKeys(const QCollator& like)
    : m_collator(openLike(like)) {}

CollationKeys::~CollationKeys() {
    ucol_close(m_collator);
}

CollationPrefix CollationKeys::prefixOf(LineText text) {
    // QCollator puts an empty line before every other without asking the collator, which
    // agrees with the empty prefix: no key of a line is below it.
    if (!m_collator || text.isEmpty())
        return {};
    const UChar* units;
    if (text.isWide()) {
        units = reinterpret_cast<const UChar*>(text.wide().utf16());
    } else {
        if (m_units.size() < size_t(text.size()) + 32)
            m_units.resize(size_t(text.size()) + 32);
        if (!widenShortLatin1(text, m_units.data()))
            widenLatin1(text.narrow(), m_units.data());
        units = reinterpret_cast<const UChar*>(m_units.data());
    }
    UCharIterator iterator;
    uiter_setString(&iterator, units, qint32(std::min<qsizetype>(text.size(), INT32_MAX)));
    uint32_t state[2] = {0, 0};
    // A key shorter than the prefix ends in zeros, below every byte a key holds: a line
    // whose key is a prefix of another's comes first, as it does with whole keys.
    unsigned char bytes[12] = {};
    UErrorCode status = U_ZERO_ERROR;
    ucol_nextSortKeyPart(m_collator, &iterator, state, bytes, sizeof bytes, &status);
    if (U_FAILURE(status))
        return {};
    quint64 high;
    quint32 low;
    std::memcpy(&high, bytes, sizeof high);
    std::memcpy(&low, bytes + 8, sizeof low);
    if constexpr (std::endian::native == std::endian::little) {
        high = __builtin_bswap64(high);
        low = __builtin_bswap32(low);
    }
    return {high, low};
}

int CollationKeys::compareUtf8(QByteArrayView a, QByteArrayView b) const {
    // As QCollator: an empty line first, before the collator is asked.
    if (a.isEmpty())
        return b.isEmpty() ? 0 : -1;
    if (b.isEmpty())
        return 1;
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result =
        ucol_strcollUTF8(m_collator, a.data(), qint32(std::min<qsizetype>(a.size(), INT32_MAX)),
                         b.data(), qint32(std::min<qsizetype>(b.size(), INT32_MAX)), &status);
    return result == UCOL_LESS ? -1 : result == UCOL_GREATER ? 1 : 0;
}

} // namespace varnel
