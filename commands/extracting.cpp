#include "extracting.h"

#include "check/listpairwalk.h"
#include "commandsummaries.h"
#include "core/commandprogress.h"
#include "core/errorreport.h"
#include "core/eventpump.h"
#include "core/guard.h"
#include "lists/linelistmodel.h"
#include "order/linesortsafter.h"
#include "windowstate.h"

#include <QScopeGuard>

#include <optional>
#include <utility>
#include <vector>

namespace varnel {

void extractOutOfOrderLines(WindowState& state) {
    if (state.busy())
        return;
    state.setBusy(true);
    // Whatever happens below, a run never leaves the flag set.
    const auto clearBusy = qScopeGuard([&state] { state.setBusy(false); });
    GuardedOperation g(state.ui(), locations::extractOutOfOrderLines);
    LineListModel& input = state.input();
    LineListModel& results = state.results();
    CommandProgress& progress = state.progress();
    progress.start(CommandProgress::Place::Results, summaries::checking(input.count()),
                   input.count());

    g.step(104, [&] { results.clear(); });
    if (input.count() == 0) {
        progress.clear();
        g.step(126, [&] { state.inform(QStringLiteral("No items added.")); });
        return;
    }
    results.setSorted(false);
    const qsizetype n = input.count();
    // Positions of the lines found since the last turn of the event loop, appended in one
    // batch that shares the input's text; a report's box is such a turn too.
    std::vector<qsizetype> found;
    const auto flush = [&] {
        if (!found.empty())
            results.appendFrom(input, std::exchange(found, {}));
    };
    g.setBeforeReport(flush);
    EventPump& pump = state.pump();
    std::optional<qsizetype> cancelledAt;
    ListPairWalk walk(input);
    for (qsizetype i = 1; i <= n; ++i) {
        const int failuresBefore = g.failureCount();
        g.step(112, [&] { pump.flushThenYield(flush); });
        progress.setDone(i - 1);
        // A cancel ends the walk as if the last position had passed: the closing steps
        // below still run, on the results found so far.
        if (progress.cancelRequested()) {
            cancelledAt = i;
            break;
        }
        if (i > 1) {
            bool sortsAfter = true; // a failed test counts as passed
            const int failuresBeforeTest = g.failureCount();
            g.step(116,
                   [&] { sortsAfter = lineSortsAfter(input.textView(i - 1), input.textView(i)); });
            // The list was shortened during a yield: one report, then the walk ends instead
            // of reporting every position up to n.
            const bool shortened = g.failureCount() != failuresBeforeTest && i > input.count();
            if (sortsAfter && (i - 1 <= input.count() || !shortened))
                g.step(118, [&] {
                    input.textView(i - 1); // fails here, in its own step, if it is gone
                    found.push_back(i - 1);
                });
            if (shortened)
                break;
        }
        // The positions up to the pump's next look at the clock cannot yield, and nothing
        // but a turn of the event loop changes the list or asks to cancel: they take the
        // same steps with nothing to check in between, walked as one run. A report's box is
        // such a turn, so the run ends at a failure, or does not start after one.
        const qsizetype quiet = pump.quietAsks();
        if (quiet == 0 || g.failureCount() != failuresBefore)
            continue;
        const qsizetype reached = walk.run(i, quiet, [&](qsizetype position) {
            g.step(118, [&] { found.push_back(position - 1); });
            return g.failureCount() == failuresBefore;
        });
        if (reached == i)
            continue;
        pump.skipAsks(unsigned(reached - i));
        progress.setDone(reached - 1);
        i = reached;
    }
    g.step(120, flush);
    g.setBeforeReport({});
    state.setPointer(Pointer::Default);
    progress.finish(cancelledAt ? summaries::cancelledAt(*cancelledAt, n)
                                : summaries::checked(results.count(), n));
    g.step(124, [&] { state.inform(QStringLiteral("Done.")); });
}

} // namespace varnel
