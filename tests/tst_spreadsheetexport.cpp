#include "commands/commandsummaries.h"
#include "commands/exporting.h"
#include "core/errorreport.h"
#include "core/failure.h"
#include "output/spreadsheetautomation.h"
#include "tests/support/commandform.h"
#include "tests/support/testfiles.h"

#include <QDeadlineTimer>
#include <QLocale>
#include <QMap>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>

using namespace varnel;
using namespace varnel::testing;

namespace {

// What the recording office ends up holding, the way a person would find it.
struct Office {
    struct Cell {
        QString value;
        QString format;
        bool writtenAsText = false; // the value arrived while the cell's format was "@"
    };
    QMap<std::pair<int, int>, Cell> cells; // by row and column
    int rows = std::numeric_limits<int>::max();
    int applications = 0;
    int workbooks = 0;
    bool visible = false;
    bool fitted = false; // every column autofitted since the last value arrived
    bool creatable = true;
    int failAfter = -1; // the office vanishes once this many calls have been made
    int calls = 0;
    // Told of each call the real office answers only once its work is done.
    std::function<void(const QString&)> working;

    void waitFor(const QString& call) {
        if (working)
            working(call);
    }

    void call() {
        if (failAfter >= 0 && calls >= failAfter)
            throw Failure(ErrorNumber::RemoteServerUnavailable,
                          QStringLiteral("The remote server machine does not exist or is "
                                         "unavailable"));
        ++calls;
    }
    Cell& cell(int row, int column) {
        call();
        if (row < 1 || row > rows)
            throw Failure(1004, QStringLiteral("Application-defined or object-defined error"));
        return cells[{row, column}];
    }
    void write(int row, int column, const QString& value) {
        Cell& c = cell(row, column);
        c.value = value;
        c.writtenAsText = c.format == u"@";
        fitted = false;
    }
    QStringList column(int c) const {
        QStringList values;
        for (auto it = cells.begin(); it != cells.end(); ++it)
            if (it.key().second == c)
                values.append(it->value);
        return values;
    }
    bool everyCellText() const {
        return std::all_of(cells.begin(), cells.end(),
                           [](const Cell& c) { return c.writtenAsText; });
    }
};

// Stands for every automation object at once; a range knows its cell, or its column
// (row 0), or every column (both 0).
class Recording : public AutomationProvider,
                  public AutomationApplication,
                  public AutomationWorkbook,
                  public AutomationSheet,
                  public AutomationRange {
public:
    explicit Recording(Office& office, int row = 0, int column = 0)
        : m_office(office)
        , m_row(row)
        , m_column(column) {}
    std::unique_ptr<AutomationApplication> createApplication() override {
        if (!m_office.creatable)
            throw Failure(ErrorNumber::CannotCreateObject,
                          QStringLiteral("ActiveX component can't create object"));
        ++m_office.applications;
        return made();
    }
    std::unique_ptr<AutomationWorkbook> workbooksAdd() override {
        m_office.waitFor(QStringLiteral("workbooksAdd"));
        m_office.call();
        ++m_office.workbooks;
        return made();
    }
    void setVisible(bool visible) override {
        m_office.waitFor(QStringLiteral("setVisible"));
        m_office.call();
        m_office.visible = visible;
    }
    std::unique_ptr<AutomationSheet> activeSheet() override { return made(); }
    std::unique_ptr<AutomationRange> cells(int row, int column) override {
        return made(row, column);
    }
    void assignCells(int row, int column, const QString& value) override {
        m_office.write(row, column, value);
    }
    std::unique_ptr<AutomationRange> columns(int column) override { return made(0, column); }
    std::unique_ptr<AutomationRange> columns() override { return made(); }
    int rowCount() override {
        m_office.waitFor(QStringLiteral("rowCount"));
        m_office.call();
        return m_office.rows;
    }
    void setNumberFormat(const QString& f) override { m_office.cell(m_row, m_column).format = f; }
    void setValue(const QString& v) override { m_office.write(m_row, m_column, v); }
    void sendHeldWrites() override { m_office.waitFor(QStringLiteral("sendHeldWrites")); }
    void autofit() override {
        m_office.waitFor(QStringLiteral("autofit"));
        m_office.call();
        m_office.fitted = m_office.fitted || m_column == 0;
    }

private:
    std::unique_ptr<Recording> made(int row = 0, int column = 0) {
        return std::make_unique<Recording>(m_office, row, column);
    }
    Office& m_office;
    int m_row;
    int m_column;
};

// Two columns, as the export writes any list with sub-items.
class TwoColumns : public ColumnTable {
public:
    qsizetype itemCount() const override { return 2; }
    qsizetype columnCount() const override { return 2; }
    QString columnCaption(qsizetype column) const override {
        return column == 1 ? QStringLiteral("Name") : QStringLiteral("Formula");
    }
    QString cell(qsizetype item, qsizetype column) const override {
        static const QString cells[2][2] = {{"=a", "=1+1"}, {"b", "x=y="}};
        return cells[item - 1][column - 1];
    }
};

struct Form : CommandForm {
    Office office;
    Form() {
        state.results().addColumnHeader(QStringLiteral("Results"));
        state.setAutomationProvider(std::make_unique<Recording>(office));
    }
};

QStringList numbered(int count) {
    QStringList lines;
    for (int i = 1; i <= count; ++i)
        lines.append(QString::number(i));
    return lines;
}

} // namespace

class TestSpreadsheetExport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void writtenCells_data();
    void writtenCells();
    void furtherColumnsLoseEqualsSigns();
    void moreResultsThanRows_data();
    void moreResultsThanRows();
    void noSpreadsheetApplication();
    void officeLostPartWay();
    void cancelledPartWay();
    void windowAnswersWhileTheOfficeWorks_data();
    void windowAnswersWhileTheOfficeWorks();
};

void TestSpreadsheetExport::writtenCells_data() {
    QTest::addColumn<QStringList>("results");
    // The probe's application is dropped at once; an empty list stops there.
    QTest::newRow("no results") << QStringList{};
    QTest::newRow("one formula") << QStringList{"=1+1"};
    QTest::newRow("three results") << QStringList{"007", "1/2", "TRUE"};
}

void TestSpreadsheetExport::writtenCells() {
    QFETCH(QStringList, results);
    Form form;
    form.state.results().appendBatch(results);
    exportResultsToSpreadsheet(form.state);
    const bool shown = !results.isEmpty();
    QCOMPARE(form.office.applications, shown ? 2 : 1);
    QCOMPARE(form.office.workbooks, shown ? 1 : 0);
    QCOMPARE(form.office.column(1), shown ? QStringList{"Results"} + results : QStringList{});
    QVERIFY(form.office.everyCellText());
    QCOMPARE(form.office.visible, shown);
    QCOMPARE(form.office.fitted, shown);
    QVERIFY(form.ui.messages.isEmpty());
    QCOMPARE(form.state.pointer(), Pointer::Default);
}

void TestSpreadsheetExport::furtherColumnsLoseEqualsSigns() {
    Form form;
    exportTable(form.state, TwoColumns());
    // Column 1 as it is, the others without "=".
    QCOMPARE(form.office.column(1), (QStringList{"Name", "=a", "b"}));
    QCOMPARE(form.office.column(2), (QStringList{"Formula", "1+1", "xy"}));
    QVERIFY(form.office.everyCellText());
    QVERIFY(form.office.visible);
}

void TestSpreadsheetExport::moreResultsThanRows_data() {
    QTest::addColumn<int>("results"); // on a sheet of five rows, the header's included
    QTest::addColumn<QString>("message");
    QTest::newRow("as many as fit") << 4 << QString();
    QTest::newRow("one more") << 5
                              << "1 of the results did not fit on the sheet and were left "
                                 "out. \"Save Results As Text File\" keeps them all.";
    QTest::newRow("many more") << 1234
                               << "1,230 of the results did not fit on the sheet and were left "
                                  "out. \"Save Results As Text File\" keeps them all.";
}

void TestSpreadsheetExport::moreResultsThanRows() {
    QFETCH(int, results);
    QFETCH(QString, message);
    Form form;
    form.office.rows = 5;
    form.state.results().appendBatch(numbered(results));
    // The figure covers the rows that fit and the closing steps, and only moves forward.
    QList<int> seen;
    form.office.working = [&](const QString&) { seen.append(form.state.progress().percent()); };
    exportResultsToSpreadsheet(form.state);
    QVERIFY2(std::is_sorted(seen.begin(), seen.end()), qPrintable(QDebug::toString(seen)));
    QVERIFY2(seen.last() >= 50, qPrintable(QDebug::toString(seen))); // showing the window
    // What fits, then one message, no error report; the export ends as any other.
    QCOMPARE(form.office.column(1), QStringList{"Results"} + numbered(4).first(qMin(results, 4)));
    QCOMPARE(form.ui.messageTexts(), message.isEmpty() ? QStringList{} : QStringList{message});
    QVERIFY(errorReports(form.ui).isEmpty());
    QVERIFY(form.office.visible);
    QCOMPARE(form.state.pointer(), Pointer::Default);
}

void TestSpreadsheetExport::noSpreadsheetApplication() {
    Form form;
    form.office.creatable = false;
    form.state.results().append(QStringLiteral("x"));
    exportResultsToSpreadsheet(form.state);
    QCOMPARE(form.ui.messageTexts(),
             (QStringList{"Excel is not installed on this computer. You need to have it installed "
                          "to use this software without error.",
                          "Excel is not installed on this computer. You need to have it installed "
                          "to use this feature."}));
    for (const auto& m : form.ui.messages) {
        QCOMPARE(m.title, QStringLiteral("Varnel"));
        QCOMPARE(m.icon, MessageIcon::None);
    }
    QCOMPARE(form.office.workbooks, 0);
    QCOMPARE(form.state.pointer(), Pointer::Default);
}

void TestSpreadsheetExport::officeLostPartWay() {
    Form form;
    form.state.results().appendBatch(numbered(500));
    form.office.failAfter = 40;
    exportResultsToSpreadsheet(form.state);
    QCOMPARE(form.ui.messages.size(), 1);
    QCOMPARE(form.ui.messages.first().title, QStringLiteral("Application Error"));
    QVERIFY(form.ui.messages.first().text.startsWith(
        QStringLiteral("The remote server machine does not exist or is unavailable\r\n") +
        locations::exportResultsToSpreadsheet));
    QVERIFY(!form.office.visible);
    QCOMPARE(form.state.pointer(), Pointer::Default);
}

// A cancel leaves no half-filled sheet on screen: the office is let go before it ever shows,
// which closes its unsaved document, and no box asks about it.
void TestSpreadsheetExport::cancelledPartWay() {
    Form form;
    form.yieldEveryLine();
    form.state.results().appendBatch(numbered(500));
    const auto cancel = onTurn(
        41, [&] { form.state.progress().cancel(); }, &form.state.pump());
    exportResultsToSpreadsheet(form.state);
    QVERIFY(form.ui.messages.isEmpty());
    QVERIFY(!form.office.visible);
    QCOMPARE(form.state.pointer(), Pointer::Default);
    const QString summary = form.state.progress().text();
    QVERIFY2(summary.startsWith(QStringLiteral("Cancelled at line ")), qPrintable(summary));
    const qsizetype at = summary.section(u' ', 3, 3).toLongLong();
    QVERIFY(at > 1 && at < 500);
    QCOMPARE(summary, summaries::exportCancelledAt(at, 500));
    // The caption and every line before the one it stopped at.
    QCOMPARE(form.office.column(1).size(), at);
}

void TestSpreadsheetExport::windowAnswersWhileTheOfficeWorks_data() {
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("rows");
    for (const char* call : {"workbooksAdd", "rowCount", "autofit", "setVisible"})
        QTest::newRow(call) << QString::fromLatin1(call) << 3;
    // The rows go over in batches, each a wait of its own.
    QTest::newRow("sendHeldWrites") << QStringLiteral("sendHeldWrites") << 25000;
}

// A new document, the fitting of a million written cells and the window coming up each take
// the office seconds: the window's event loop goes on turning meanwhile.
void TestSpreadsheetExport::windowAnswersWhileTheOfficeWorks() {
    QFETCH(QString, call);
    QFETCH(int, rows);
    Form form;
    form.state.results().appendBatch(numbered(rows));
    std::atomic<bool> turned = false;
    QTimer beat;
    connect(&beat, &QTimer::timeout, [&] { turned = true; });
    beat.start(0);
    int waits = 0;
    int answered = 0;
    form.office.working = [&](const QString& name) {
        if (name != call)
            return;
        ++waits;
        turned = false;
        QDeadlineTimer deadline(5000);
        while (!turned && !deadline.hasExpired())
            QThread::yieldCurrentThread();
        answered += turned ? 1 : 0;
    };
    exportResultsToSpreadsheet(form.state);
    QVERIFY(waits > 0);
    QCOMPARE(answered, waits);
    QVERIFY(form.office.visible);
    QVERIFY(form.ui.messages.isEmpty());
}

QTEST_GUILESS_MAIN(TestSpreadsheetExport)
#include "tst_spreadsheetexport.moc"
