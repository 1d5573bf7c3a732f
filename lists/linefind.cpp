#include "linefind.h"

#include "listsnapshot.h"

namespace varnel {

namespace {

bool holds(LineText line, const QString& text) {
    if (line.isWide())
        return line.wide().contains(text, Qt::CaseInsensitive);
    return line.narrow().contains(text, Qt::CaseInsensitive);
}

} // namespace

std::optional<qsizetype> findLine(const ListSnapshot& list, const QString& text, qsizetype from,
                                  bool forward, const FindStep& step) {
    const qsizetype n = list.count();
    if (text.isEmpty() || n == 0)
        return std::nullopt;
    if (from < 1 || from > n)
        from = forward ? 0 : n + 1;
    for (qsizetype looked = 1; looked <= n; ++looked) {
        // Round past the end: positions 1..n, wherever the walk starts.
        const qsizetype at = ((forward ? from - 1 + looked : from - 1 - looked) % n + n) % n + 1;
        if (holds(list.textView(at), text))
            return at;
        if (step)
            step(looked);
    }
    return std::nullopt;
}

} // namespace varnel
