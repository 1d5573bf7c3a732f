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
                const QString& hint, TipRoom room) {
    const QString tip = itemNote(state, list, index);
    const qsizetype position = index.row() + 1;
    const QString text = list.text(position);
    if (index.data(Qt::DisplayRole).toString().size() >= text.size())
        return tip;
    // Cut for display: the tip holds the line from its start, in rows a screen can show,
    // none of them ending inside a character of two units, and never more rows than leave
    // the note, the hint and the blank rows between them on the screen too.
    const auto rowsOf = [](const QString& part) {
        return part.isEmpty() ? 0 : part.count(QLatin1Char('\n')) + 2;
    };
    const qsizetype Row = std::max<qsizetype>(1, room.columns);
    // One row stays free for the length, should the line not end in the others.
    const qsizetype rows = std::max<qsizetype>(1, room.rows - rowsOf(tip) - rowsOf(hint) - 2);
    QString full;
    qsizetype at = 0;
    for (qsizetype shown = 0; at < text.size() && shown < rows; ++shown) {
        qsizetype row = std::min(Row, text.size() - at);
        if (row > 1 && text.at(at + row - 1).isHighSurrogate())
            --row;
        full += text.mid(at, row) + QLatin1Char('\n');
        at += row;
    }
    if (at < text.size())
        full += QStringLiteral("… (%1 characters)\n").arg(QLocale().toString(text.size()));
    full += QLatin1Char('\n');
    if (!tip.isEmpty())
        full += tip + QStringLiteral("\n\n");
    return full + hint;
}

} // namespace varnel
