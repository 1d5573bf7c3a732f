#include "collation.h"

#include <QLocale>

namespace varnel {

QCollator makeCorrectOrderCollator() {
    QLocale locale;
    // The C locale collates by code point, which would put é after z; a person reading a
    // list expects it beside e.
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    collator.setIgnorePunctuation(false);
    return collator;
}

int compareInCorrectOrder(QStringView a, QStringView b) {
    thread_local const QCollator collator = makeCorrectOrderCollator();
    return collator.compare(a, b);
}

} // namespace varnel
