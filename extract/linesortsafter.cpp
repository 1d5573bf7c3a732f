#include "linesortsafter.h"

#include <QChar>

#include <cstring>

namespace varnel {

namespace {

// The lower-cased code unit at `i`, without building a lower-cased copy. Surrogate halves
// are lowered as the code point they belong to; the simple mapping keeps every character
// in its plane, so the string's length in code units never changes.
inline char16_t loweredUnit(QStringView s, qsizetype i) {
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

// The first position where the two differ, four code units at a time: neighbours in a list
// share long beginnings, and equal units lower-case alike.
inline qsizetype firstDifference(const char16_t* u, const char16_t* l, qsizetype common) {
    qsizetype i = 0;
    for (; i + 4 <= common; i += 4) {
        quint64 a;
        quint64 b;
        std::memcpy(&a, u + i, sizeof a);
        std::memcpy(&b, l + i, sizeof b);
        if (a != b)
            break;
    }
    while (i < common && u[i] == l[i])
        ++i;
    return i;
}

} // namespace

bool lineSortsAfter(QStringView upper, QStringView lower) {
    const qsizetype common = std::min(upper.size(), lower.size());
    const char16_t* u = upper.utf16();
    const char16_t* l = lower.utf16();
    qsizetype start = firstDifference(u, l, common);
    // A high surrogate lowers with its partner, which may be the first unit that differs.
    if (start > 0 && QChar::isHighSurrogate(u[start - 1]))
        --start;
    for (qsizetype i = start; i < common; ++i) {
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
