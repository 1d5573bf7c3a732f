#include "extraction.h"

#include "linesortsafter.h"

#include "app/errorreport.h"
#include "app/guard.h"
#include "app/windowstate.h"

namespace varnel {

namespace {

// Results found since the last yield. They are appended in one batch right before the
// window processes events, so any handler that runs then sees every result so far, and
// the view is not told about each row on its own.
class PendingResults {
public:
    explicit PendingResults(LineListModel& results)
        : m_results(results)
    {
    }
    void add(const QString& text) { m_texts.append(text); }
    void flush()
    {
        if (!m_texts.isEmpty())
            m_results.appendBatch(std::exchange(m_texts, QStringList()));
    }

private:
    LineListModel& m_results;
    QStringList m_texts;
};

} // namespace

void PushButton7_Click(WindowState& form)
{
    if (form.busy())
        return;
    GuardedOperation g(form.ui(), locations::PushButton7);
    LineListModel& input = form.input();
    LineListModel& results = form.results();
    g.step(102, [&] { form.setBusy(true); });
    // Whatever happens below, a run never leaves the flag set.
    struct ClearBusy {
        WindowState& form;
        ~ClearBusy() { form.setBusy(false); }
    } clearBusy{form};

    g.step(104, [&] { results.clear(); });
    bool hasLines = true; // a failed test counts as passed
    g.step(106, [&] { hasLines = input.count() > 0; });
    if (hasLines) {
        g.step(108, [&] { results.setSorted(false); });
        qsizetype n = 0;
        g.step(110, [&] { n = input.count(); });
        PendingResults pending(results);
        g.setBeforeReport([&] { pending.flush(); });
        EventPump& pump = form.pump();
        for (qsizetype i = 1; i <= n; ++i) {
            g.step(112, [&] {
                if (pump.due()) {
                    pending.flush();
                    pump.yieldNow();
                }
            });
            if (i == 1)
                continue;
            QString upper;
            bool upperRead = false;
            bool sortsAfter = true;
            const int failuresBefore = g.failureCount();
            g.step(116, [&] {
                upper = input.text(i - 1);
                upperRead = true;
                sortsAfter = LineSortsAfter(upper, input.text(i));
            });
            // The list was shortened during a yield: one report, then the walk ends
            // instead of reporting every position up to n.
            const bool shortened = g.failureCount() != failuresBefore && i > input.count();
            if (sortsAfter && (upperRead || !shortened))
                g.step(118, [&] { pending.add(upperRead ? upper : input.text(i - 1)); });
            if (shortened)
                break;
        }
        g.step(120, [&] { pending.flush(); });
        g.setBeforeReport({});
        g.step(122, [&] { form.setPointer(Pointer::Default); });
        g.step(124, [&] { form.inform(QStringLiteral("Done.")); });
    } else {
        g.step(126, [&] { form.inform(QStringLiteral("No items added.")); });
    }
    g.step(128, [&] { form.setBusy(false); });
}

} // namespace varnel
