#include "correctorder.h"

#include "commandsummaries.h"
#include "core/commandprogress.h"
#include "core/errorreport.h"
#include "core/eventpump.h"
#include "core/guard.h"
#include "lists/linelistmodel.h"
#include "windowstate.h"

#include <algorithm>

namespace varnel {

namespace {

// Of a sort's whole time, about what the sort itself takes; the rest goes to making the
// rows and showing them to the views, which at ten million lines takes seconds of its own.
constexpr double SortShare = 0.8;

} // namespace

void showCorrectOrder(WindowState& state) {
    GuardedOperation g(state.ui(), locations::showCorrectOrder);
    LineListModel& input = state.input();
    LineListModel& results = state.results();
    CommandProgress& progress = state.progress();
    const qsizetype lines = input.count();
    progress.start(CommandProgress::Place::Results, summaries::sorting(lines), lines);
    g.run([&] { results.clear(); });
    // One figure across the phases: the sort's share until the rows appear, then the share
    // of them shown. The sort's own reads 0 again once it has ended, before the rows appear.
    progress.setShareSource([&results, lines, sorted = 0.0]() mutable {
        if (lines > 0 && results.count() > 0)
            return SortShare + (1 - SortShare) * double(results.count()) / double(lines);
        sorted = std::max(sorted, results.sortProgress());
        return SortShare * sorted;
    });
    // Ascending by item text is the only order this list knows, so [102] and [104], the
    // direction and the key, are part of switching the mode on.
    g.step(100, [&] { results.setSorted(true); });
    // The lines go in as one batch that shares the input's text: the list sorts the batch
    // once, comparing lines by the collation, instead of placing each line on its own, and
    // is in order the moment it shows anything.
    try {
        g.step(106, [&] { results.appendAllFrom(input); });
    } catch (const CommandCancelled&) {
        // Nothing has gone in yet: the list stays as the steps above left it.
        progress.finish(summaries::sortCancelled(lines));
        return;
    }
    if (lines > 0 && results.count() == lines)
        progress.finish(summaries::sorted(lines));
    else
        progress.clear(); // nothing to sort, or the step failed and its report said so
}

} // namespace varnel
