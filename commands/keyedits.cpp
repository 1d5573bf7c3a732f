#include "keyedits.h"

#include "core/userinterface.h"
#include "lists/linelistmodel.h"
#include "text/linebreaks.h"
#include "windowstate.h"

namespace varnel {

std::optional<qsizetype> moveSelectedLine(WindowState& state, std::optional<qsizetype> selected,
                                          int step) {
    LineListModel& list = state.input();
    if (state.showsHourglass() || !selected || *selected < 1 || *selected > list.count())
        return std::nullopt;
    const qsizetype to = *selected + step;
    if (to < 1 || to > list.count())
        return std::nullopt;
    // Equal texts never trade, as in a drag: the line stays put and so does the selection.
    if (list.textView(*selected).toString() == list.textView(to).toString())
        return std::nullopt;
    list.exchange(*selected, to);
    return to;
}

std::optional<qsizetype> pasteLines(WindowState& state) {
    if (state.showsHourglass())
        return std::nullopt;
    QString text = state.ui().clipboardText();
    const std::vector<LineSpan> spans = lineSpansOf(text);
    if (spans.empty())
        return std::nullopt;
    LineListModel& list = state.input();
    list.appendLines(std::move(text), spans);
    return list.count();
}

} // namespace varnel
