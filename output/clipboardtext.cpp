#include "clipboardtext.h"

#include "lists/linelist.h"

#include <QList>

namespace varnel {

QString clipboardText(const ColumnTable& table, const std::function<void()>& yield) {
    const qsizetype columns = table.columnCount();
    QList<qsizetype> widths;
    widths.reserve(columns);
    for (qsizetype k = 1; k <= columns; ++k) {
        qsizetype width = 0;
        const qsizetype items = table.itemCount();
        for (qsizetype j = 1; j <= items; ++j) {
            yield();
            width = std::max(width, table.cell(j, k).size());
        }
        widths.append(width);
    }

    QString text;
    const qsizetype items = table.itemCount();
    for (qsizetype i = 1; i <= items; ++i) {
        yield();
        for (qsizetype k = 1; k <= columns; ++k) {
            yield();
            const QString cell = table.cell(i, k);
            text += cell;
            // A cell that grew since it was measured goes in as it is.
            if (widths[k - 1] > cell.size())
                text += QString(widths[k - 1] - cell.size(), u' ');
            text += u'\t';
        }
        // Only the tab this line put there goes: with no columns there is none, and the
        // break of the line before must stay.
        if (columns > 0)
            text.chop(1);
        qsizetype end = text.size();
        while (end > 0 && text.at(end - 1) == u' ')
            --end;
        text.truncate(end);
        text += QStringLiteral("\r\n");
    }
    return text;
}

} // namespace varnel
