#pragma once

#include "linetext.h"

#include <QChar>

namespace varnel {

// The order the lists are checked in: the two lower-cased, compared by UTF-16 code units.
// Below 0 when `first` comes first, 0 when the two lower-case alike, above 0 when `second`
// comes first. Lower-casing is the simple per-character mapping, so lengths never change;
// no locale rules apply, on purpose. One-byte and UTF-16 lines compare as the same
// characters would in either form.
int compareLowered(LineText first, LineText second);

// The simple lower-case form of one character, as the pair test takes it. Qt gives U+0130
// (capital I with dot above) back unchanged, because its full lower-case form is two
// characters; its simple form is i, one character, so a line keeps its length.
inline char32_t loweredCharacter(char32_t c) {
    return c == 0x130 ? U'i' : QChar::toLower(c);
}

// The beginning of a line in that order, as two numbers: where two lines' prefixes differ,
// the lower prefix is the line that comes first; equal prefixes tell nothing. A sort makes
// one a line and compares them, and compares the lines only where they tie. They hold the
// lowered units' values as UTF-8 would spell them (a form that keeps their order), twelve
// bytes in all, so twelve characters of a line in a Latin script.
struct LoweredPrefix {
    quint64 high = 0;
    quint32 low = 0;
};
LoweredPrefix loweredPrefixOf(LineText text);

// True when `upper` sorts strictly after `lower` in that order.
inline bool lineSortsAfter(LineText upper, LineText lower) {
    return compareLowered(upper, lower) > 0;
}

} // namespace varnel
