#pragma once

// The office's documents and sheets as the backend keeps them: cell writes are held per
// sheet and sent in large batches, since every call to the office is a round trip.

#include "officecalls.h"
#include "pendingcells.h"

#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableColumns.hpp>
#include <com/sun/star/table/XTableRows.hpp>
#include <com/sun/star/util/CloseVetoException.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XNumberFormats.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>
#include <com/sun/star/util/XNumberFormatTypes.hpp>

#include <algorithm>

#include <map>
#include <memory>
#include <vector>

namespace varnel::office {

// A setDataArray of this many rows moves a few megabytes at most and takes well under a
// second, and writes are sent at the latest when this many calls are held.
constexpr int rowsPerWrite = 20000;
constexpr int callsHeldAtMost = 50000;

// What Calc allows on one sheet, for checking every cell without a round trip; a caller that
// needs the sheet's own row count asks it.
constexpr int sheetColumnsAtMost = 16384;
constexpr int sheetRowsAtMost = 1048576;

// Calc fits a column when OptimalWidth turns on; a column fitted before (to its header)
// keeps the flag and would ignore a second request, so the flag goes off first.
template <typename Columns> void fitColumns(const Columns& columns) {
    columns->setPropertyValue("OptimalWidth", Any(false));
    columns->setPropertyValue("OptimalWidth", Any(true));
}

Failure outsideSheet() {
    return {1004, QStringLiteral("Application-defined or object-defined error")};
}

struct SheetState;

struct Document {
    Reference<css::sheet::XSpreadsheetDocument> model;
    std::map<QString, sal_Int32> formatKeys;

    sal_Int32 formatKey(const QString& format) {
        if (auto known = formatKeys.find(format); known != formatKeys.end())
            return known->second;
        Reference<css::util::XNumberFormatsSupplier> supplier(model, UNO_QUERY_THROW);
        auto formats = supplier->getNumberFormats();
        sal_Int32 key;
        if (format == QLatin1String("@")) {
            // The document's own text format, whatever its language calls it.
            Reference<css::util::XNumberFormatTypes> types(formats, UNO_QUERY_THROW);
            key = types->getStandardFormat(css::util::NumberFormat::TEXT, css::lang::Locale());
        } else {
            // Callers write format codes in their English spelling, whatever the user's language.
            const css::lang::Locale english("en", "US", rtl::OUString());
            key = formats->queryKey(toOUString(format), english, false);
            if (key < 0)
                key = formats->addNew(toOUString(format), english);
        }
        formatKeys.emplace(format, key);
        return key;
    }

    void show(bool visible) {
        Reference<css::frame::XModel> document(model, UNO_QUERY_THROW);
        auto controller = document->getCurrentController();
        if (!controller.is())
            return;
        auto frame = controller->getFrame();
        auto window = frame->getContainerWindow();
        window->setVisible(visible);
        if (!visible)
            return;
        // A document loaded hidden gets its menus and toolbars only once its frame is active.
        frame->activate();
        if (Reference<css::awt::XTopWindow> top{window, UNO_QUERY}; top.is())
            top->toFront();
    }

    void close() {
        Reference<css::util::XCloseable> closeable(model, UNO_QUERY);
        if (!closeable.is())
            return;
        try {
            closeable->close(true);
        } catch (const css::util::CloseVetoException&) {
            // Whoever vetoed now owns the document and closes it.
        }
    }
};

struct Session {
    Reference<css::frame::XDesktop2> desktop;
    bool visible = false;
    bool everVisible = false;
    std::vector<std::shared_ptr<Document>> documents;
    std::vector<std::weak_ptr<SheetState>> sheets;

    void flushSheets();
};

struct SheetState {
    std::shared_ptr<Document> document;
    Reference<css::sheet::XSpreadsheet> sheet;
    office::PendingCells pending;
    int lastColumn = 0; // the rightmost column written, for autofitting every column
    int rows = 0;       // the sheet's row count, once asked

    ~SheetState() {
        // Writes still held when the caller lets go of the sheet belong in the document;
        // a failure here has nobody left to tell.
        try {
            flush();
        } catch (...) {
        }
    }

    void checkCell(int row, int column) const {
        if (row < 1 || row > sheetRowsAtMost)
            throw outsideSheet();
        checkColumn(column);
    }

    static void checkColumn(int column) {
        if (column < 1 || column > sheetColumnsAtMost)
            throw outsideSheet();
    }

    int rowCount() {
        if (rows == 0) {
            Reference<css::table::XColumnRowRange> range(sheet, UNO_QUERY_THROW);
            rows = range->getRows()->getCount();
        }
        return rows;
    }

    void held(int column) {
        lastColumn = std::max(lastColumn, column);
        if (pending.size() >= callsHeldAtMost)
            flush();
    }

    void setFormat(int row, int column, const QString& format) {
        checkCell(row, column);
        pending.setFormat(row, column, format);
        held(column);
    }

    void setValue(int row, int column, const QString& value) {
        checkCell(row, column);
        pending.setValue(row, column, value);
        held(column);
    }

    Reference<css::table::XCellRange> cellRange(int column, int firstRow, int lastColumn,
                                                int lastRow) const {
        return sheet->getCellRangeByPosition(column - 1, firstRow - 1, lastColumn - 1, lastRow - 1);
    }

    Reference<css::beans::XPropertySet> columnRange(int first, int last) const {
        Reference<css::table::XColumnRowRange> range(cellRange(first, 1, last, 1), UNO_QUERY_THROW);
        return Reference<css::beans::XPropertySet>(range->getColumns(), UNO_QUERY_THROW);
    }

    // A whole column, which is also a range of cells with cell properties.
    Reference<css::uno::XInterface> column(int column) const {
        Reference<css::table::XColumnRowRange> range(cellRange(column, 1, column, 1),
                                                     UNO_QUERY_THROW);
        return Reference<css::uno::XInterface>(range->getColumns()->getByIndex(0), UNO_QUERY_THROW);
    }

    void flush() {
        if (pending.isEmpty())
            return;
        auto batch = pending.take(rowsPerWrite);

        // Holds back a visible document's repaints until the whole batch is in.
        Reference<css::frame::XModel> model(document->model, UNO_QUERY_THROW);
        model->lockControllers();
        struct Unlock {
            Reference<css::frame::XModel> model;
            ~Unlock() {
                try {
                    model->unlockControllers();
                } catch (...) {
                }
            }
        } unlock{model};

        for (const auto& run : batch.formats) {
            const Any key(document->formatKey(run.format));
            Reference<css::beans::XPropertySet> range(
                cellRange(run.column, run.firstRow, run.column, run.lastRow), UNO_QUERY_THROW);
            range->setPropertyValue("NumberFormat", key);
        }
        // The text interface, not formulas: a formula write would read "=1+1" or "007"
        // whatever the cell's format says.
        for (auto& run : batch.values) {
            const auto count = static_cast<sal_Int32>(run.values.size());
            Sequence<Sequence<Any>> rows(count);
            auto* row = rows.getArray();
            for (sal_Int32 i = 0; i < count; ++i) {
                const Any text(toOUString(run.values[i]));
                row[i] = Sequence<Any>(&text, 1);
                run.values[i].clear();
            }
            Reference<css::sheet::XCellRangeData> range(
                cellRange(run.column, run.firstRow, run.column, run.firstRow + count - 1),
                UNO_QUERY_THROW);
            range->setDataArray(rows);
        }
    }
};

inline void Session::flushSheets() {
    for (const auto& weak : sheets)
        if (auto sheet = weak.lock())
            sheet->flush();
}

} // namespace varnel::office
