#include "exporting.h"

#include "output/spreadsheetautomation.h"

#include "commandsummaries.h"
#include "core/commandprogress.h"
#include "core/errorreport.h"
#include "core/guard.h"
#include "lists/listsnapshot.h"
#include "windowstate.h"

#include <QLocale>

#include <algorithm>
#include <optional>

namespace varnel {

namespace {

const QString TextFormat = QStringLiteral("@");
// Rows handed over between two waits for the office to take them: few enough that the
// office never has to take a batch in the middle of a row's calls, on the window's thread.
constexpr qsizetype RowsPerHandOver = 10000;

} // namespace

bool tryStartingSpreadsheetApplication(WindowState& state) {
    bool installed = true;
    bool failed = false;
    std::unique_ptr<AutomationApplication> application;
    try {
        application = state.automation().createApplication();
    } catch (const Failure&) {
        failed = true;
    } catch (const std::bad_alloc&) {
        failed = true;
    }
    if (!application) {
        state.inform(QStringLiteral("Excel is not installed on this computer. You need to have it "
                                    "installed to use this software without error."));
    }
    application.reset();
    if (failed)
        installed = false;
    return installed;
}

void exportTable(WindowState& state, const ColumnTable& table) {
    GuardedOperation g(state.ui(), locations::exportResultsToSpreadsheet);
    EventPump& pump = state.pump();
    // Once the office has gone away (closed or crashed) every further call would fail the
    // same way: it is reported once and the export skips to its end.
    bool lost = false;
    const auto call = [&](int line, auto&& statement) {
        if (lost)
            return;
        g.step(line, [&] {
            try {
                statement();
            } catch (const Failure& failure) {
                lost = failure.number() == int(ErrorNumber::RemoteServerUnavailable);
                throw;
            }
        });
    };
    // What the office answers only once it has done the work held back for it (a new
    // document, the written cells fitted, the window shown) can take seconds at a million
    // rows: that wait is had on a thread aside while the window goes on answering, clicks
    // and all, as it does in the yields between the rows.
    const auto callAside = [&](int line, auto&& statement) {
        call(line, [&] { pump.waitAside(statement); });
    };

    CommandProgress& progress = state.progress();
    if (table.itemCount() == 0) {
        progress.clear();
        return;
    }
    progress.start(CommandProgress::Place::Results, summaries::exporting(table.itemCount()),
                   table.itemCount());
    state.setPointer(Pointer::Hourglass);
    std::unique_ptr<AutomationApplication> application;
    std::unique_ptr<AutomationWorkbook> workbook;
    call(112, [&] { application = state.automation().createApplication(); });
    callAside(114, [&] {
        if (!application)
            throw Failure(ErrorNumber::CannotCreateObject, QStringLiteral("Object required"));
        workbook = application->workbooksAdd();
    });
    const auto sheet = [&]() -> std::unique_ptr<AutomationSheet> {
        if (!workbook)
            throw Failure(ErrorNumber::CannotCreateObject, QStringLiteral("Object required"));
        return workbook->activeSheet();
    };

    int c = 1;
    const qsizetype columns = table.columnCount();
    for (qsizetype k = 1; k <= columns && !lost; ++k) {
        pump.yield();
        call(122, [&] { sheet()->cells(1, c)->setNumberFormat(TextFormat); });
        call(k == 1 ? 126 : 130, [&] { sheet()->assignCells(1, c, table.columnCaption(k)); });
        ++c;
        callAside(134, [&] { sheet()->columns(int(k))->autofit(); });
    }

    int r = 2;
    const qsizetype n = table.itemCount();
    // Rows past the sheet's last would each fail the same way: the rows that fit are
    // written, and one message says how many did not.
    int lastRow = std::numeric_limits<int>::max();
    callAside(140, [&] { lastRow = sheet()->rowCount(); });
    // One figure for the rows that fit and the closing steps, the fitting of the columns and
    // showing the office's window: with a million rows those take seconds, about a tenth of
    // the writing.
    const qint64 written = std::clamp<qint64>(qint64(lastRow) - 1, 0, n);
    const qint64 closing = std::max<qint64>(2, written / 9);
    progress.setTotal(written + closing);
    qsizetype leftOut = 0;
    std::optional<qsizetype> cancelledAt;
    for (qsizetype k = 1; k <= n && !lost; ++k) {
        if (r > lastRow) {
            leftOut = table.itemCount() - k + 1;
            break;
        }
        pump.yield();
        progress.setDone(k - 1);
        if (progress.cancelRequested()) {
            cancelledAt = k;
            break;
        }
        if (k % RowsPerHandOver == 0)
            callAside(156, [&] { sheet()->sendHeldWrites(); });
        c = 1;
        const qsizetype cellColumns = table.columnCount();
        bool vanished = false;
        for (qsizetype m = 1; m <= cellColumns && !lost && !vanished; ++m) {
            pump.yield();
            const int before = g.failureCount();
            call(152, [&] { sheet()->cells(r, c)->setNumberFormat(TextFormat); });
            if (m == 1)
                call(156, [&] { sheet()->cells(r, c)->setValue(table.cell(k, 1)); });
            else
                call(160, [&] { sheet()->cells(r, c)->setValue(table.cell(k, m).remove(u'=')); });
            ++c;
            // A list shortened during a yield: one report, then the rows end.
            vanished = g.failureCount() != before && k > table.itemCount();
        }
        ++r;
        if (vanished)
            break;
    }
    if (cancelledAt) {
        // An office let go before it has shown anything closes the documents it made: the
        // half-filled sheet goes without a question, and there is nothing left to show.
        pump.runAside([&] {
            workbook.reset();
            application.reset();
        });
        state.setPointer(Pointer::Default);
        progress.finish(summaries::exportCancelledAt(*cancelledAt, n));
        return;
    }
    progress.setDone(written);
    callAside(170, [&] { sheet()->columns()->autofit(); });
    progress.setDone(written + closing / 2);
    callAside(172, [&] {
        if (!application)
            throw Failure(ErrorNumber::CannotCreateObject, QStringLiteral("Object required"));
        application->setVisible(true);
    });
    progress.setDone(written + closing);
    state.setPointer(Pointer::Default);
    if (lost || g.failureCount() > 0)
        progress.clear(); // the reports said what went wrong
    else
        progress.finish(summaries::exported(r - 2));
    if (leftOut > 0)
        state.inform(QStringLiteral("%1 of the results did not fit on the sheet and were left "
                                    "out. \"Save Results As Text File\" keeps them all.")
                         .arg(QLocale().toString(leftOut)));
}

void exportResultsToSpreadsheet(WindowState& state) {
    // A second office session must not begin on this thread while the office still answers
    // the first on another: the click is answered, not dropped.
    if (state.pump().isWaitingAside()) {
        state.inform(QStringLiteral("The results are still being exported to the spreadsheet. "
                                    "Please try again once the export is done."));
        return;
    }
    // The results as they are now: the export yields, and what other commands do to the
    // list meanwhile does not reach the sheet.
    const ListSnapshot results = state.results().snapshot();
    if (!tryStartingSpreadsheetApplication(state)) {
        state.inform(QStringLiteral("Excel is not installed on this computer. You need to have "
                                    "it installed to use this feature."));
        return;
    }
    exportTable(state, results);
}

} // namespace varnel
