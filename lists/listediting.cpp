#include "listediting.h"

#include "app/errorreport.h"
#include "app/guard.h"
#include "app/userinterface.h"
#include "app/windowstate.h"

namespace varnel {

const QStringList& sampleLines() {
    static const QStringList lines = {
        QStringLiteral("Corin Melvane"),  QStringLiteral("Jolene Sarrow"),
        QStringLiteral("Dorian Tessick"), QStringLiteral("Kendra Bellwood"),
        QStringLiteral("Kyran Foss"),     QStringLiteral("Lara Kettle"),
        QStringLiteral("Lionel Zarek"),   QStringLiteral("Lorna Ashby"),
        QStringLiteral("Nadia Orrell"),   QStringLiteral("Simone Sallow"),
    };
    return lines;
}

void PushButton1_Click(WindowState& form) {
    GuardedOperation g(form.ui(), locations::PushButton1);
    QString entry;
    g.step(100, [&] {
        entry = form.ui().inputText(QStringLiteral("Enter Item: "), QStringLiteral("Input Item"));
        form.pump().checkAlive();
    });
    bool blank = false;
    // Only U+0020 counts as blank here: an entry of tabs is a real line.
    g.step(102, [&] {
        blank = std::all_of(entry.cbegin(), entry.cend(), [](QChar c) { return c == u' '; });
    });
    if (blank)
        return;
    g.step(104, [&] { form.input().append(entry); });
}

void PushButton11_Click(WindowState& form) {
    GuardedOperation g(form.ui(), locations::PushButton11);
    int line = 100;
    for (const QString& sample : sampleLines()) {
        g.step(line, [&] { form.input().append(sample); });
        line += 2;
    }
}

void PushButton3_Click(WindowState& form) {
    GuardedOperation g(form.ui(), locations::PushButton3);
    g.step(100, [&] {
        if (!form.showsHourglass())
            form.input().clear();
    });
}

void PushButton9_Click(WindowState& form) {
    GuardedOperation g(form.ui(), locations::PushButton9);
    g.step(100, [&] { form.results().clear(); });
}

void removeSelectedItem(WindowState& form, LineListModel& list,
                        std::optional<qsizetype> selectedPosition) {
    if (form.showsHourglass() || list.count() == 0 || !selectedPosition)
        return;
    if (*selectedPosition >= 1 && *selectedPosition <= list.count())
        list.removeAt(*selectedPosition);
}

} // namespace varnel
