#include "exporting.h"

#include "output/spreadsheetautomation.h"

#include "core/errorreport.h"
#include "core/guard.h"
#include "windowstate.h"

namespace varnel {

namespace {

const QString TextFormat = QStringLiteral("@");

} // namespace

bool spreadsheetApplicationAvailable(WindowState& state) {
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

    bool empty = false;
    g.step(108, [&] { empty = table.itemCount() == 0; });
    if (empty)
        return;
    g.step(110, [&] { state.setPointer(Pointer::Hourglass); });
    std::unique_ptr<AutomationApplication> application;
    std::unique_ptr<AutomationWorkbook> workbook;
    call(112, [&] { application = state.automation().createApplication(); });
    call(114, [&] {
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
    g.step(116, [&] { c = 1; });
    qsizetype columns = 0;
    g.step(118, [&] { columns = table.columnCount(); });
    for (qsizetype k = 1; k <= columns && !lost; ++k) {
        g.step(120, [&] { pump.yield(); });
        call(122, [&] { sheet()->cells(1, c)->setNumberFormat(TextFormat); });
        call(k == 1 ? 126 : 130, [&] { sheet()->assignCells(1, c, table.columnCaption(k)); });
        g.step(k == 1 ? 128 : 132, [&] { ++c; });
        call(134, [&] { sheet()->columns(int(k))->autofit(); });
    }

    int r = 2;
    g.step(138, [&] { r = 2; });
    qsizetype n = 0;
    g.step(140, [&] { n = table.itemCount(); });
    for (qsizetype k = 1; k <= n && !lost; ++k) {
        g.step(142, [&] { pump.yield(); });
        g.step(146, [&] { c = 1; });
        qsizetype cellColumns = 0;
        g.step(148, [&] { cellColumns = table.columnCount(); });
        bool vanished = false;
        for (qsizetype m = 1; m <= cellColumns && !lost && !vanished; ++m) {
            g.step(150, [&] { pump.yield(); });
            const int before = g.failureCount();
            call(152, [&] { sheet()->cells(r, c)->setNumberFormat(TextFormat); });
            if (m == 1) {
                call(156, [&] { sheet()->cells(r, c)->setValue(table.cell(k, 1)); });
                g.step(158, [&] { ++c; });
            } else {
                call(160, [&] { sheet()->cells(r, c)->setValue(table.cell(k, m).remove(u'=')); });
                g.step(162, [&] { ++c; });
            }
            // A list shortened during a yield: one report, then the rows end.
            vanished = g.failureCount() != before && k > table.itemCount();
        }
        g.step(166, [&] { ++r; });
        if (vanished)
            break;
    }
    call(170, [&] { sheet()->columns()->autofit(); });
    call(172, [&] {
        if (!application)
            throw Failure(ErrorNumber::CannotCreateObject, QStringLiteral("Object required"));
        application->setVisible(true);
    });
    g.step(174, [&] { state.setPointer(Pointer::Default); });
}

void exportResultsToSpreadsheet(WindowState& state) {
    GuardedOperation g(state.ui(), locations::exportResultsToSpreadsheet);
    bool installed = true;
    g.step(100, [&] { installed = spreadsheetApplicationAvailable(state); });
    if (!installed) {
        g.step(176, [&] {
            state.inform(QStringLiteral("Excel is not installed on this computer. You need to have "
                                        "it installed to use this feature."));
        });
        return;
    }
    exportTable(state, state.results());
}

} // namespace varnel
