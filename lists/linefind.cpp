#include "linefind.h"

#include "linelistmodel.h"

namespace varnel {

namespace {

bool holds(LineText line, const QString& text) {
    if (line.isWide())
        return line.wide().contains(text, Qt::CaseInsensitive);
    return line.narrow().contains(text, Qt::CaseInsensitive);
}

} // namespace

std::optional<qsizetype> findLine(const LineListModel& list, const QString& text, qsizetype from,
                                  bool forward) {
    const qsizetype n = list.count();
    if (text.isEmpty() || n == 0)
        return std::nullopt;
    if (from < 1 || from > n)
        from = forward ? 0 : n + 1;
    for (qsizetype step = 1; step <= n; ++step) {
        // Round past the end: positions 1..n, wherever the walk starts.
        const qsizetype at = ((forward ? from - 1 + step : from - 1 - step) % n + n) % n + 1;
        if (holds(list.textView(at), text))
            return at;
    }
    return std::nullopt;
}

} // namespace varnel
