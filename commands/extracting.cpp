#include "extracting.h"

#include "extract/linesortsafter.h"

#include "core/errorreport.h"
#include "core/guard.h"
#include "windowstate.h"

namespace varnel {

namespace {

// Positions of the input lines found since the last yield. They are appended in one
// batch right before the window processes events, so any handler that runs then sees
// every result so far, the view is not told about each row on its own, and no line is
// copied: the results share the input's text.
class PendingResults {
public:
    PendingResults(const LineListModel& input, LineListModel& results)
        : m_input(input)
        , m_results(results) {}
    void add(qsizetype position) { m_positions.push_back(position); }
    void flush() {
        if (!m_positions.empty())
            m_results.appendFrom(m_input, std::exchange(m_positions, {}));
    }

private:
    const LineListModel& m_input;
    LineListModel& m_results;
    std::vector<qsizetype> m_positions;
};

} // namespace

void extractOutOfOrderLines(WindowState& state) {
    if (state.busy())
        return;
    GuardedOperation g(state.ui(), locations::extractOutOfOrderLines);
    LineListModel& input = state.input();
    LineListModel& results = state.results();
    g.step(102, [&] { state.setBusy(true); });
    // Whatever happens below, a run never leaves the flag set.
    struct ClearBusy {
        WindowState& state;
        ~ClearBusy() { state.setBusy(false); }
    } clearBusy{state};

    g.step(104, [&] { results.clear(); });
    bool hasLines = true; // a failed test counts as passed
    g.step(106, [&] { hasLines = input.count() > 0; });
    if (hasLines) {
        g.step(108, [&] { results.setSorted(false); });
        qsizetype n = 0;
        g.step(110, [&] { n = input.count(); });
        PendingResults pending(input, results);
        g.setBeforeReport([&] { pending.flush(); });
        EventPump& pump = state.pump();
        for (qsizetype i = 1; i <= n; ++i) {
            g.step(112, [&] {
                if (pump.due()) {
                    pending.flush();
                    pump.yieldNow();
                }
            });
            if (i == 1)
                continue;
            bool sortsAfter = true;
            const int failuresBefore = g.failureCount();
            g.step(116,
                   [&] { sortsAfter = lineSortsAfter(input.textView(i - 1), input.textView(i)); });
            // The list was shortened during a yield: one report, then the walk ends
            // instead of reporting every position up to n.
            const bool shortened = g.failureCount() != failuresBefore && i > input.count();
            if (sortsAfter && (i - 1 <= input.count() || !shortened))
                g.step(118, [&] {
                    input.textView(i - 1); // fails here, in its own step, if it is gone
                    pending.add(i - 1);
                });
            if (shortened)
                break;
        }
        g.step(120, [&] { pending.flush(); });
        g.setBeforeReport({});
        g.step(122, [&] { state.setPointer(Pointer::Default); });
        g.step(124, [&] { state.inform(QStringLiteral("Done.")); });
    } else {
        g.step(126, [&] { state.inform(QStringLiteral("No items added.")); });
    }
    g.step(128, [&] { state.setBusy(false); });
}

} // namespace varnel
