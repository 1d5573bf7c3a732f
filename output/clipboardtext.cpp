#include "clipboardtext.h"

#include "lists/linelist.h"

#include <QList>

namespace varnel {

QString clipboardText(const ColumnTable& table, const std::function<void()>& yield) {
    const qsizetype columns = table.columnCount();
    // Padding after the last column would only join the blanks dropped at the end of its
    // line, so only the columns before it are measured: a list of one column is read once.
    QList<qsizetype> widths(columns, 0);
    for (qsizetype k = 1; k < columns; ++k) {
        const qsizetype items = table.itemCount();
        for (qsizetype j = 1; j <= items; ++j) {
            yield();
            widths[k - 1] = std::max(widths[k - 1], table.cell(j, k).size());
        }
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
                text.resize(text.size() + widths[k - 1] - cell.size(), u' ');
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
