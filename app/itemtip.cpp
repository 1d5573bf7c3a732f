#include "itemtip.h"

#include "commands/ordernote.h"
#include "commands/windowstate.h"
#include "lists/linelistmodel.h"
#include "lists/resultlinks.h"

#include <QLocale>

#include <algorithm>

namespace varnel {

QString itemNote(WindowState& state, const LineListModel& list, const QModelIndex& index) {
    QString tip = index.data(Qt::ToolTipRole).toString();
    const qsizetype position = index.row() + 1;
    LineListModel& input = state.input();
    if (&list == &state.results() && !list.isSorted()) {
        const std::optional<qsizetype> line = state.links().inputPosition(position);
        if (line && *line < input.count()) {
            const QString note = codeOrderNote(input.text(*line), input.text(*line + 1));
            if (!note.isEmpty())
                tip += QLatin1Char('\n') + note;
        }
    }
    return tip;
}

QString itemTip(WindowState& state, const LineListModel& list, const QModelIndex& index,
                const QString& hint) {
    const QString tip = itemNote(state, list, index);
    const qsizetype position = index.row() + 1;
    const QString text = list.text(position);
    if (index.data(Qt::DisplayRole).toString().size() >= text.size())
        return tip;
    // Cut for display: the tip holds the rest, in rows a screen can show, none of them
    // ending inside a character of two units.
    constexpr qsizetype Shown = 10000, Row = 100;
    const qsizetype end = std::min(text.size(), Shown);
    QString full;
    for (qsizetype at = 0; at < end;) {
        qsizetype row = std::min(Row, end - at);
        if (row > 1 && text.at(at + row - 1).isHighSurrogate())
            --row;
        full += text.mid(at, row) + QLatin1Char('\n');
        at += row;
    }
    if (text.size() > Shown)
        full += QStringLiteral("… (%1 characters)\n").arg(QLocale().toString(text.size()));
    full += QLatin1Char('\n');
    if (!tip.isEmpty())
        full += tip + QStringLiteral("\n\n");
    return full + hint;
}

} // namespace varnel
