#include "officebackend.h"

#include "core/failure.h"
#include "output/spreadsheetautomation.h"
#include "pendingcells.h"
#include "unoclient.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <QUuid>

#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XFrames.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
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
#include <new>
#include <type_traits>
#include <vector>

namespace varnel {
namespace {

namespace css = com::sun::star;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using uno::toOUString;
using uno::toQString;

// A setDataArray of this many rows moves a few megabytes at most and takes well under a
// second, and writes are sent at the latest when this many calls are held.
constexpr int rowsPerWrite = 20000;
constexpr int callsHeldAtMost = 50000;

// What Calc allows on one sheet, for checking every cell without a round trip; a caller that
// needs the sheet's own row count asks it.
constexpr int sheetColumnsAtMost = 16384;
constexpr int sheetRowsAtMost = 1048576;

Failure automationError(const QString& detail) {
    if (detail.isEmpty())
        return {ErrorNumber::AutomationError, QStringLiteral("Automation error")};
    return {ErrorNumber::AutomationError, QStringLiteral("Automation error: %1").arg(detail)};
}

Failure officeGone() {
    return {ErrorNumber::RemoteServerUnavailable,
            QStringLiteral("The remote server machine does not exist or is unavailable: "
                           "LibreOffice or its document has been closed")};
}

// Only varnel::Failure may leave the backend: the program neither knows nor links the
// office's exception types.
template <typename Call> auto guarded(Call&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const Failure&) {
        throw;
    } catch (const css::lang::DisposedException&) {
        throw officeGone();
    } catch (const css::uno::RuntimeException& e) {
        // A broken connection (the office crashed or was ended) surfaces as a disposed
        // bridge; the command then stops instead of failing once per remaining cell.
        if (toQString(e.Message).contains(QStringLiteral("disposed"), Qt::CaseInsensitive))
            throw officeGone();
        throw automationError(toQString(e.Message));
    } catch (const css::uno::Exception& e) {
        throw automationError(toQString(e.Message));
    } catch (const std::bad_alloc&) {
        throw Failure(ErrorNumber::OutOfMemory, QStringLiteral("Out of memory"));
    } catch (const std::exception& e) {
        throw automationError(QString::fromLocal8Bit(e.what()));
    }
}

// Calc fits a column when OptimalWidth turns on; a column fitted before (to its header)
// keeps the flag and would ignore a second request, so the flag goes off first.
template <typename Columns> void fitColumns(const Columns& columns) {
    columns->setPropertyValue("OptimalWidth", Any(false));
    columns->setPropertyValue("OptimalWidth", Any(true));
}

Failure outsideSheet() {
    return {1004, QStringLiteral("Application-defined or object-defined error")};
}

css::beans::PropertyValue property(const char* name, const Any& value) {
    css::beans::PropertyValue result;
    result.Name = rtl::OUString::createFromAscii(name);
    result.Value = value;
    return result;
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

void Session::flushSheets() {
    for (const auto& weak : sheets)
        if (auto sheet = weak.lock())
            sheet->flush();
}

class CellRange : public AutomationRange {
public:
    CellRange(std::shared_ptr<SheetState> sheet, int row, int column)
        : m_sheet(std::move(sheet))
        , m_row(row)
        , m_column(column) {}

    void setNumberFormat(const QString& format) override {
        guarded([&] { m_sheet->setFormat(m_row, m_column, format); });
    }
    void setValue(const QString& value) override {
        guarded([&] { m_sheet->setValue(m_row, m_column, value); });
    }
    // Calc fits whole columns only; fitting the cell's column is what the caller means.
    void autofit() override {
        guarded([&] {
            m_sheet->flush();
            fitColumns(m_sheet->columnRange(m_column, m_column));
        });
    }

private:
    std::shared_ptr<SheetState> m_sheet;
    int m_row;
    int m_column;
};

// One column, or with column 0 every column of the sheet.
class ColumnRange : public AutomationRange {
public:
    ColumnRange(std::shared_ptr<SheetState> sheet, int column)
        : m_sheet(std::move(sheet))
        , m_column(column) {}

    void setNumberFormat(const QString& format) override {
        guarded([&] {
            // Cell formats already asked for were asked for first, so they must not be
            // applied over this one later.
            m_sheet->flush();
            const Any key(m_sheet->document->formatKey(format));
            Reference<css::beans::XPropertySet> range(
                m_column == 0 ? Reference<css::uno::XInterface>(m_sheet->sheet)
                              : Reference<css::uno::XInterface>(m_sheet->column(m_column)),
                UNO_QUERY_THROW);
            range->setPropertyValue("NumberFormat", key);
        });
    }

    void setValue(const QString&) override {
        throw Failure(ErrorNumber::InvalidProcedureCall,
                      QStringLiteral("Invalid procedure call or argument: whole columns cannot "
                                     "be given a value"));
    }

    void autofit() override {
        guarded([&] {
            m_sheet->flush();
            const int first = m_column == 0 ? 1 : m_column;
            const int last = m_column == 0 ? m_sheet->lastColumn : m_column;
            if (last < first)
                return; // nothing written, nothing to fit
            fitColumns(m_sheet->columnRange(first, last));
        });
    }

private:
    std::shared_ptr<SheetState> m_sheet;
    int m_column;
};

class Sheet : public AutomationSheet {
public:
    explicit Sheet(std::shared_ptr<SheetState> state)
        : m_state(std::move(state)) {}

    std::unique_ptr<AutomationRange> cells(int row, int column) override {
        m_state->checkCell(row, column);
        return std::make_unique<CellRange>(m_state, row, column);
    }

    void assignCells(int row, int column, const QString& value) override {
        guarded([&] { m_state->setValue(row, column, value); });
    }

    std::unique_ptr<AutomationRange> columns(int column) override {
        SheetState::checkColumn(column);
        return std::make_unique<ColumnRange>(m_state, column);
    }

    std::unique_ptr<AutomationRange> columns() override {
        return std::make_unique<ColumnRange>(m_state, 0);
    }

    int rowCount() override {
        return guarded([&] { return m_state->rowCount(); });
    }

private:
    std::shared_ptr<SheetState> m_state;
};

class Workbook : public AutomationWorkbook {
public:
    Workbook(std::shared_ptr<Session> session, std::shared_ptr<Document> document)
        : m_session(std::move(session))
        , m_document(std::move(document)) {}

    std::unique_ptr<AutomationSheet> activeSheet() override {
        // Callers fetch the active sheet anew for every cell. Asking the office each time
        // would cost a round trip per cell, and a sheet state of its own per call would
        // send every cell on its own; while the document is hidden nobody can switch sheets,
        // so one state serves every call until the document shows.
        if (m_active && !m_session->everVisible)
            return std::make_unique<Sheet>(m_active);
        return guarded([&] {
            Reference<css::sheet::XSpreadsheet> sheet;
            Reference<css::frame::XModel> model(m_document->model, UNO_QUERY_THROW);
            if (Reference<css::sheet::XSpreadsheetView> view{model->getCurrentController(),
                                                             UNO_QUERY};
                view.is())
                sheet = view->getActiveSheet();
            if (!sheet.is()) {
                Reference<css::container::XIndexAccess> sheets(m_document->model->getSheets(),
                                                               UNO_QUERY_THROW);
                sheet.set(sheets->getByIndex(0), UNO_QUERY_THROW);
            }
            auto state = std::make_shared<SheetState>();
            state->document = m_document;
            state->sheet = sheet;
            m_session->sheets.push_back(state);
            m_active = state;
            return std::unique_ptr<AutomationSheet>(std::make_unique<Sheet>(std::move(state)));
        });
    }

private:
    std::shared_ptr<Session> m_session;
    std::shared_ptr<Document> m_document;
    std::shared_ptr<SheetState> m_active;
};

class Application : public AutomationApplication {
public:
    explicit Application(std::shared_ptr<Session> session)
        : m_session(std::move(session)) {}

    ~Application() override {
        try {
            m_session->flushSheets();
            // Like an application started for automation and never shown: its documents
            // go with it rather than linger where the user cannot see or close them.
            if (!m_session->everVisible) {
                for (const auto& document : m_session->documents)
                    document->close();
                // An office started for this and left without a window would run on where
                // nobody can see or end it. One that shows anything (the user's own, which
                // took the request over) stays.
                const Reference<css::frame::XFrames> frames = m_session->desktop->getFrames();
                if (frames.is() && frames->getCount() == 0)
                    m_session->desktop->terminate();
            }
        } catch (...) {
        }
    }

    std::unique_ptr<AutomationWorkbook> workbooksAdd() override {
        return guarded([&] {
            // Hidden until the caller asks to see it: nothing is painted while it fills.
            const auto hidden = property("Hidden", Any(!m_session->visible));
            const Sequence<css::beans::PropertyValue> arguments(&hidden, 1);
            Reference<css::frame::XComponentLoader> loader(m_session->desktop, UNO_QUERY_THROW);
            auto component =
                loader->loadComponentFromURL("private:factory/scalc", "_blank", 0, arguments);
            auto document = std::make_shared<Document>();
            document->model.set(component, UNO_QUERY_THROW);
            m_session->documents.push_back(document);
            m_session->sheets.erase(std::remove_if(m_session->sheets.begin(),
                                                   m_session->sheets.end(),
                                                   [](const auto& s) { return s.expired(); }),
                                    m_session->sheets.end());
            return std::unique_ptr<AutomationWorkbook>(
                std::make_unique<Workbook>(m_session, std::move(document)));
        });
    }

    void setVisible(bool visible) override {
        guarded([&] {
            m_session->flushSheets();
            m_session->visible = visible;
            m_session->everVisible = m_session->everVisible || visible;
            for (const auto& document : m_session->documents)
                document->show(visible);
        });
    }

private:
    std::shared_ptr<Session> m_session;
};

QString officeProgram(const OfficeLaunchOptions& options) {
    if (!options.program.isEmpty())
        return QFileInfo(options.program).isExecutable() ? options.program : QString();
    const QFileInfo installed(QStringLiteral(VARNEL_OFFICE_PROGRAM_DIR "/soffice"));
    if (installed.isExecutable())
        return installed.filePath();
    for (const char* name : {"soffice", "libreoffice"})
        if (auto found = QStandardPaths::findExecutable(QString::fromLatin1(name));
            !found.isEmpty())
            return found;
    return {};
}

qint64 startOffice(const QString& program, const OfficeLaunchOptions& options,
                   const QString& pipeName) {
    QStringList arguments{QStringLiteral("--nologo"), QStringLiteral("--norestore"),
                          QStringLiteral("--nodefault"), QStringLiteral("--nolockcheck")};
    if (options.headless)
        arguments << QStringLiteral("--headless");
    arguments << QStringLiteral("--accept=pipe,name=%1;urp;").arg(pipeName);
    if (!options.profileDirectory.isEmpty())
        arguments << QStringLiteral("-env:UserInstallation=%1")
                         .arg(QUrl::fromLocalFile(QDir(options.profileDirectory).absolutePath())
                                  .toString(QUrl::FullyEncoded));

    // Detached: the document belongs to the user, and stays when this program ends.
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(QDir::homePath());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        throw failures::cannotCreateObject(
            QStringLiteral("LibreOffice could not be started (%1)").arg(process.errorString()));
    return pid;
}

Reference<css::uno::XComponentContext> connectWithin(const QString& pipeName,
                                                     const OfficeLaunchOptions& options) {
    const QDeadlineTimer deadline(options.connectTimeoutMs);
    QString lastError;
    for (;;) {
        try {
            return uno::connect(pipeName);
        } catch (const css::uno::Exception& e) {
            // Not listening yet, or still setting up: both pass while the office starts.
            lastError = toQString(e.Message);
        }
        if (deadline.hasExpired())
            break;
        const QDeadlineTimer nextAttempt(std::min<qint64>(250, deadline.remainingTime()));
        do {
            if (options.waitStep)
                options.waitStep();
            QThread::msleep(20);
        } while (!nextAttempt.hasExpired());
    }
    throw failures::cannotCreateObject(
        QStringLiteral("LibreOffice did not answer in time (%1)").arg(lastError));
}

std::unique_ptr<AutomationApplication> createApplication(const OfficeLaunchOptions& options) {
    const QString program = officeProgram(options);
    if (program.isEmpty())
        throw failures::cannotCreateObject(
            options.program.isEmpty() ? QStringLiteral("LibreOffice Calc is not installed")
                                      : QStringLiteral("LibreOffice was not found at %1")
                                            .arg(QDir::toNativeSeparators(options.program)));
    try {
        uno::localContext();
    } catch (const css::uno::Exception& e) {
        throw failures::cannotCreateObject(
            QStringLiteral("the LibreOffice runtime could not be started (%1)")
                .arg(toQString(e.Message)));
    }

    const QString pipeName =
        options.pipeName.isEmpty()
            ? QStringLiteral("varnel") + QUuid::createUuid().toString(QUuid::Id128)
            : options.pipeName;
    const qint64 pid = startOffice(program, options, pipeName);
    if (options.officeStarted)
        options.officeStarted(pid);

    const auto context = connectWithin(pipeName, options);
    auto session = std::make_shared<Session>();
    try {
        session->desktop = css::frame::Desktop::create(context);
    } catch (const css::uno::Exception& e) {
        throw failures::cannotCreateObject(toQString(e.Message));
    }
    return std::make_unique<Application>(std::move(session));
}

} // namespace
} // namespace varnel

extern "C" Q_DECL_EXPORT varnel::AutomationApplication*
varnel_office_create_application_v2(const varnel::OfficeLaunchOptions& options) {
    // The signature is the one the provider expects under this name.
    static_assert(
        std::is_same_v<decltype(&varnel_office_create_application_v2), varnel::OfficeFactory>);
    return varnel::guarded([&] { return varnel::createApplication(options).release(); });
}
