#include "linesortsafter.h"

#include <QChar>

namespace varnel {

namespace {

// The lower-cased code unit at `i`, without building a lower-cased copy. Surrogate halves
// are lowered as the code point they belong to; the simple mapping keeps every character
// in its plane, so the string's length in code units never changes.
inline char16_t loweredUnit(QStringView s, qsizetype i)
{
    const char16_t c = s[i].unicode();
    if (c < 0x80)
        return (c >= u'A' && c <= u'Z') ? char16_t(c + 0x20) : c;
    if (!QChar::isSurrogate(c))
        return QChar::toLower(c);
    if (QChar::isHighSurrogate(c) && i + 1 < s.size() && QChar::isLowSurrogate(s[i + 1].unicode()))
        return QChar::highSurrogate(QChar::toLower(QChar::surrogateToUcs4(c, s[i + 1].unicode())));
    if (QChar::isLowSurrogate(c) && i > 0 && QChar::isHighSurrogate(s[i - 1].unicode()))
        return QChar::lowSurrogate(QChar::toLower(QChar::surrogateToUcs4(s[i - 1].unicode(), c)));
    return c;
}

} // namespace

bool LineSortsAfter(QStringView upper, QStringView lower)
{
    const qsizetype common = std::min(upper.size(), lower.size());
    const char16_t* u = upper.utf16();
    const char16_t* l = lower.utf16();
    for (qsizetype i = 0; i < common; ++i) {
        if (u[i] == l[i] && !QChar::isSurrogate(u[i]))
            continue; // equal units lower-case alike, unless they are halves of a pair
        const char16_t a = loweredUnit(upper, i);
        const char16_t b = loweredUnit(lower, i);
        if (a != b)
            return a > b;
    }
    return upper.size() > lower.size();
}

} // namespace varnel
