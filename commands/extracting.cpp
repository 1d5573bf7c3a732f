#include "extracting.h"

#include "commandsummaries.h"
#include "core/commandprogress.h"
#include "core/errorreport.h"
#include "core/eventpump.h"
#include "core/guard.h"
#include "lists/linelistmodel.h"
#include "order/linesortsafter.h"
#include "pairtestsaside.h"
#include "windowstate.h"

#include <QScopeGuard>

#include <algorithm>
#include <bit>
#include <chrono>
#include <optional>
#include <utility>
#include <vector>

namespace varnel {

namespace {

// Lists shorter than this are walked on this thread alone: a thread costs more than it saves.
constexpr qsizetype SharedFrom = 1 << 16;

// Runs of pairs tested on both threads take about this long each, so the window turns late by
// no more than that, and each run pays for posting it many times over.
constexpr std::chrono::microseconds SharedRunTime{500};

qsizetype nextSharedRun(qsizetype run, std::chrono::steady_clock::duration took) {
    const auto micros =
        std::max<qint64>(1, std::chrono::duration_cast<std::chrono::microseconds>(took).count());
    const qint64 scaled = run * SharedRunTime.count() / micros;
    // Changes by at most half or double at a time: one run the system put off says little.
    return std::clamp<qint64>(scaled, std::max<qint64>(PairTestsAside::PieceLength, run / 2),
                              std::min<qint64>(qint64(1) << 20, run * 2));
}

// Calls take(bit) for each bit set among the first `count` of `bits`, in order, until it
// returns false.
template <typename Take>
void forEachSet(const std::vector<quint64>& bits, qsizetype count, const Take& take) {
    for (qsizetype w = 0; w * 64 < count; ++w) {
        const qsizetype past = std::max<qsizetype>(0, (w + 1) * 64 - count);
        for (quint64 word = bits[size_t(w)] & (~quint64(0) >> past); word != 0; word &= word - 1) {
            if (!take(w * 64 + std::countr_zero(word)))
                return;
        }
    }
}

} // namespace

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
    std::optional<PairTestsAside> aside;
    if (n >= SharedFrom)
        aside.emplace();
    qsizetype sharedRun = PairTestsAside::PieceLength * 4;
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
        // same steps with nothing to check in between, their lines read straight off the
        // list. A report's box is such a turn, so the run ends at a failure, or does not
        // start after one. With a thread aside, the run is longer, and its pairs are
        // tested on both threads before it is walked.
        const qsizetype quiet = pump.quietAsks();
        if (quiet == 0 || g.failureCount() != failuresBefore)
            continue;
        const bool shared = aside && aside->isAvailable();
        qsizetype last = std::min({n, input.count(), i + (shared ? sharedRun : quiet)});
        if (last <= i)
            continue;
        const auto started =
            shared ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point();
        if (shared)
            last = aside->test(input, i, last, 2 * SharedRunTime);
        qsizetype reached = last;
        const auto take = [&](qsizetype position) {
            g.step(118, [&] { found.push_back(position - 1); });
            if (g.failureCount() == failuresBefore)
                return true;
            reached = position;
            return false;
        };
        if (shared) {
            forEachSet(aside->answers(), last - i,
                       [&](qsizetype bit) { return take(i + 1 + bit); });
        } else {
            LineText above = input.textView(i);
            input.visitTexts(i + 1, last, [&](qsizetype position, LineText below) {
                if (lineSortsAfter(above, below) && !take(position))
                    return false;
                above = below;
                return true;
            });
        }
        if (shared)
            sharedRun = nextSharedRun(sharedRun, std::chrono::steady_clock::now() - started);
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
