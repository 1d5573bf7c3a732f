#include "collation.h"

#include <QLocale>

namespace varnel {

QLocale collationLocale(const QString& all, const QString& collate, const QString& lang) {
    // Qt's own default follows LC_MESSAGES and LANGUAGE, the language of messages, which
    // is not the order the user asked for.
    const QString& chosen = !all.isEmpty() ? all : !collate.isEmpty() ? collate : lang;
    const QString name = chosen.section(u'.', 0, 0).section(u'@', 0, 0);
    const QString modifier = chosen.section(u'@', 1);
    const QLocale locale(name);
    if (name.isEmpty() || name == u"C" || name == u"POSIX" || locale.language() == QLocale::C)
        return QLocale(QLocale::English, QLocale::UnitedStates);
    if (modifier == u"latin")
        return QLocale(locale.language(), QLocale::LatinScript, locale.territory());
    if (modifier == u"cyrillic")
        return QLocale(locale.language(), QLocale::CyrillicScript, locale.territory());
    return locale;
}

QCollator makeCorrectOrderCollator() {
    QCollator collator(collationLocale(qEnvironmentVariable("LC_ALL"),
                                       qEnvironmentVariable("LC_COLLATE"),
                                       qEnvironmentVariable("LANG")));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    collator.setIgnorePunctuation(false);
    return collator;
}

QStringView CollatedComparison::Buffer::widenedLong(LineText text) {
    char16_t* units = m_fixed;
    if (text.size() > FixedUnits) {
        m_grown.resize(size_t(text.size()));
        units = m_grown.data();
    }
    widenLatin1(text.narrow(), units);
    return {units, text.size()};
}

int compareInCorrectOrder(QStringView a, QStringView b) {
    thread_local const QCollator collator = makeCorrectOrderCollator();
    return collator.compare(a, b);
}

} // namespace varnel
