#pragma once

#include <QCollator>
#include <QLocale>
#include <QStringView>

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

} // namespace varnel
