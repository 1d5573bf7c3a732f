// lineSortsAfter must be a strict order that matches the plain rule it stands for:
// lower-case every character, then compare UTF-16 code units.

#include "fuzzinput.h"

#include "order/linesortsafter.h"

#include <QChar>

#include <cstdlib>

namespace {

// The simple mapping, which for U+0130 is i; Qt's QChar::toLower leaves it as it is.
char32_t simpleLower(char32_t c) {
    return c == 0x130 ? U'i' : QChar::toLower(c);
}

QString lowered(const QString& text) {
    // Code point by code point with the simple mapping; lone surrogates stay as they are.
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text[i + 1].unicode())) {
            const char32_t lower = simpleLower(QChar::surrogateToUcs4(c, text[i + 1].unicode()));
            out.append(QChar(QChar::highSurrogate(lower)));
            out.append(QChar(QChar::lowSurrogate(lower)));
            ++i;
        } else {
            out.append(QChar(QChar::isSurrogate(c) ? c : char16_t(simpleLower(c))));
        }
    }
    return out;
}

bool referenceSortsAfter(const QString& upper, const QString& lower) {
    const QString a = lowered(upper);
    const QString b = lowered(lower);
    if (a.size() != upper.size() || b.size() != lower.size())
        std::abort(); // the simple mapping never changes a length
    return std::u16string_view(QStringView(a).utf16(), a.size()) >
           std::u16string_view(QStringView(b).utf16(), b.size());
}

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    varnel::fuzzing::Utf16Texts input(data, size);
    const QString a = input.next();
    const QString b = input.next();
    const QString c = input.next();
    using varnel::lineSortsAfter;
    check(lineSortsAfter(a, b) == referenceSortsAfter(a, b));
    // Lines below U+0100 may be held one byte a character: each form compares alike.
    const QByteArray narrowA = a.toLatin1();
    const QByteArray narrowB = b.toLatin1();
    const varnel::LineText oneByteA = QLatin1StringView(narrowA);
    const varnel::LineText oneByteB = QLatin1StringView(narrowB);
    if (varnel::fitsLatin1(a))
        check(lineSortsAfter(oneByteA, b) == lineSortsAfter(a, b));
    if (varnel::fitsLatin1(b))
        check(lineSortsAfter(a, oneByteB) == lineSortsAfter(a, b));
    if (varnel::fitsLatin1(a) && varnel::fitsLatin1(b))
        check(lineSortsAfter(oneByteA, oneByteB) == lineSortsAfter(a, b));
    check(lineSortsAfter(b, c) == referenceSortsAfter(b, c));
    check(!lineSortsAfter(a, a));
    check(!(lineSortsAfter(a, b) && lineSortsAfter(b, a)));
    if (lineSortsAfter(a, b) && lineSortsAfter(b, c))
        check(lineSortsAfter(a, c));
    // Neither greater means equal keys, and equality is transitive too.
    const bool abEqual = !lineSortsAfter(a, b) && !lineSortsAfter(b, a);
    const bool bcEqual = !lineSortsAfter(b, c) && !lineSortsAfter(c, b);
    if (abEqual && bcEqual)
        check(!lineSortsAfter(a, c) && !lineSortsAfter(c, a));
    return 0;
}
