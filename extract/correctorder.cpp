#include "correctorder.h"

#include "app/errorreport.h"
#include "app/guard.h"
#include "app/windowstate.h"

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

int CorrectOrderCompare(QStringView a, QStringView b) {
    thread_local const QCollator collator = makeCorrectOrderCollator();
    return collator.compare(a, b);
}

void PushButton5_Click(WindowState& form) {
    GuardedOperation g(form.ui(), locations::PushButton5);
    LineListModel& input = form.input();
    LineListModel& results = form.results();
    g.run([&] { results.clear(); });
    // Ascending by item text is the only order this list knows, so [102] and [104], the
    // direction and the key, are part of switching the mode on.
    g.step(100, [&] { results.setSorted(true); });
    // The lines go in as one batch that shares the input's text: the list sorts it once
    // with collation keys instead of placing each line on its own, and is in order the
    // moment it shows anything.
    g.step(106, [&] { results.appendAllFrom(input); });
}

} // namespace varnel
