#include "numericorder.h"

#include "linesortsafter.h"

#include <QChar>

namespace varnel {

namespace {

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// The units of the character at `i`: two for a surrogate pair, one otherwise.
qsizetype characterUnits(LineText text, qsizetype i) {
    return i + 1 < text.size() && QChar::isHighSurrogate(text.at(i)) &&
                   QChar::isLowSurrogate(text.at(i + 1))
               ? 2
               : 1;
}

LineText slice(LineText text, qsizetype from, qsizetype length) {
    return text.isWide() ? LineText(text.wide().sliced(from, length))
                         : LineText(text.narrow().sliced(from, length));
}

struct Number {
    qsizetype zeros;  // leading
    qsizetype digits; // after them
    qsizetype end;
};

Number numberAt(LineText text, qsizetype i) {
    Number n{0, 0, i};
    while (n.end < text.size() && text.at(n.end) == u'0') {
        ++n.zeros;
        ++n.end;
    }
    while (n.end < text.size() && isDigit(text.at(n.end))) {
        ++n.digits;
        ++n.end;
    }
    return n;
}

// Two runs of digits by value, then by their leading zeros.
int compareNumbers(LineText a, const Number& x, LineText b, const Number& y) {
    if (x.digits != y.digits)
        return x.digits > y.digits ? 1 : -1;
    for (qsizetype k = 0; k < x.digits; ++k) {
        const char16_t p = a.at(x.end - x.digits + k);
        const char16_t q = b.at(y.end - y.digits + k);
        if (p != q)
            return p > q ? 1 : -1;
    }
    return x.zeros == y.zeros ? 0 : (x.zeros > y.zeros ? 1 : -1);
}

} // namespace

int compareLoweredNumeric(LineText first, LineText second) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < first.size() && j < second.size()) {
        const char16_t a = first.at(i);
        const char16_t b = second.at(j);
        if (isDigit(a) && isDigit(b)) {
            const Number x = numberAt(first, i);
            const Number y = numberAt(second, j);
            if (const int order = compareNumbers(first, x, second, y))
                return order;
            i = x.end;
            j = y.end;
            continue;
        }
        // A digit against anything else: every other character lowers to a unit below '0'
        // or above '9', so the digit's own unit decides as it would in compareLowered.
        const qsizetype aUnits = characterUnits(first, i);
        const qsizetype bUnits = characterUnits(second, j);
        if (a != b || aUnits != bUnits || aUnits > 1) {
            if (const int order = compareLowered(slice(first, i, aUnits), slice(second, j, bUnits)))
                return order;
        }
        i += aUnits;
        j += bUnits;
    }
    const bool firstLeft = i < first.size();
    const bool secondLeft = j < second.size();
    return firstLeft == secondLeft ? 0 : (firstLeft ? 1 : -1);
}

} // namespace varnel
