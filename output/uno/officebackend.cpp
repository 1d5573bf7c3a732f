#include "officebackend.h"

#include "officecalls.h"
#include "officedocument.h"
#include "officelaunch.h"
#include "output/spreadsheetautomation.h"

#include <QDir>
#include <QUuid>

#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XFrames.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableColumns.hpp>

#include <algorithm>
#include <memory>
#include <type_traits>

namespace varnel::office {
namespace {

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

    void sendHeldWrites() override {
        guarded([&] {
            while (!m_state->pending.isEmpty())
                m_state->flush();
        });
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

std::unique_ptr<AutomationApplication> createApplication(const OfficeLaunchOptions& options) {
    const QString program = officeProgram(options);
    if (program.isEmpty())
        throw failures::cannotCreateObject(
            options.program.isEmpty() ? QStringLiteral("LibreOffice Calc is not installed")
                                      : QStringLiteral("LibreOffice was not found at %1")
                                            .arg(QDir::toNativeSeparators(options.program)));
    try {
        runAside(options, [] { uno::localContext(); });
    } catch (const css::uno::Exception& e) {
        throw failures::cannotCreateObject(
            QStringLiteral("the LibreOffice runtime could not be started (%1)")
                .arg(toQString(e.Message)));
    }

    const QString pipeName =
        options.pipeName.isEmpty()
            ? QStringLiteral("varnel") + QUuid::createUuid().toString(QUuid::Id128)
            : options.pipeName;
    // Starting a process copies this one's page tables first: long, for a list of millions.
    qint64 pid = 0;
    runAside(options, [&] { pid = startOffice(program, options, pipeName); });
    if (options.officeStarted)
        options.officeStarted(pid);

    const auto context = connectWithin(pipeName, options);
    auto session = std::make_shared<Session>();
    try {
        runAside(options, [&] { session->desktop = css::frame::Desktop::create(context); });
    } catch (const css::uno::Exception& e) {
        throw failures::cannotCreateObject(toQString(e.Message));
    }
    return std::make_unique<Application>(std::move(session));
}

} // namespace
} // namespace varnel::office

extern "C" Q_DECL_EXPORT varnel::AutomationApplication*
varnel_office_create_application_v3(const varnel::OfficeLaunchOptions& options) {
    // The signature is the one the provider expects under this name.
    static_assert(
        std::is_same_v<decltype(&varnel_office_create_application_v3), varnel::OfficeFactory>);
    return varnel::office::guarded(
        [&] { return varnel::office::createApplication(options).release(); });
}
