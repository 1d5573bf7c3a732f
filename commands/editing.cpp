#include "editing.h"

#include "core/errorreport.h"
#include "core/eventpump.h"
#include "core/guard.h"
#include "core/userinterface.h"
#include "lists/linelistmodel.h"
#include "windowstate.h"

#include <algorithm>

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

void addOneItem(WindowState& state) {
    GuardedOperation g(state.ui(), locations::addOneItem);
    QString entry;
    g.step(100, [&] {
        entry = state.ui().inputText(QStringLiteral("Enter Item: "), QStringLiteral("Input Item"));
        state.pump().checkAlive();
    });
    // A line never holds a line break: pasted ones show as blanks in the box, and would be
    // saved as lines of their own. They stay what the box showed.
    entry.replace(u'\r', u' ').replace(u'\n', u' ');
    // Only U+0020 counts as blank here: an entry of tabs is a real line.
    if (std::all_of(entry.cbegin(), entry.cend(), [](QChar c) { return c == u' '; }))
        return;
    g.step(104, [&] { state.input().append(entry); });
}

void loadSampleData(WindowState& state) {
    GuardedOperation g(state.ui(), locations::loadSampleData);
    int line = 100;
    for (const QString& sample : sampleLines()) {
        g.step(line, [&] { state.input().append(sample); });
        line += 2;
    }
}

void clearInputList(WindowState& state) {
    GuardedOperation g(state.ui(), locations::clearInputList);
    g.step(100, [&] {
        if (!state.showsHourglass())
            state.input().clear();
    });
}

void clearResultsList(WindowState& state) {
    GuardedOperation g(state.ui(), locations::clearResultsList);
    g.step(100, [&] { state.results().clear(); });
}

void removeSelectedItem(WindowState& state, LineListModel& list,
                        std::optional<qsizetype> selectedPosition) {
    if (state.showsHourglass() || list.count() == 0 || !selectedPosition)
        return;
    if (*selectedPosition >= 1 && *selectedPosition <= list.count())
        list.removeAt(*selectedPosition);
}

} // namespace varnel
