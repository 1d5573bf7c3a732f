#include "clipboardtext.h"

#include <QList>

#include <algorithm>

namespace varnel {

QString clipboardText(qsizetype items, qsizetype columns, const TableCell& cell,
                      const std::function<void()>& yield) {
    // Padding after the last column would only join the blanks dropped at the end of its
    // line, so only the columns before it are measured: a list of one column is read once.
    QList<qsizetype> widths(columns, 0);
    for (qsizetype k = 1; k < columns; ++k) {
        for (qsizetype j = 1; j <= items; ++j) {
            yield();
            widths[k - 1] = std::max(widths[k - 1], cell(j, k).size());
        }
    }

    QString text;
    for (qsizetype i = 1; i <= items; ++i) {
        yield();
        for (qsizetype k = 1; k <= columns; ++k) {
            yield();
            const QString shown = cell(i, k);
            text += shown;
            // A cell that grew since it was measured goes in as it is.
            if (widths[k - 1] > shown.size())
                text.resize(text.size() + widths[k - 1] - shown.size(), u' ');
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
