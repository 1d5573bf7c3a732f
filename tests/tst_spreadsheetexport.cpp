#include "commands/exporting.h"
#include "core/errorreport.h"
#include "core/failure.h"
#include "output/spreadsheetautomation.h"
#include "support/commandform.h"

#include <QTest>

using namespace varnel;
using namespace varnel::testing;

namespace {

// Records every automation call in the words of the automation interface. `failAfter`
// makes the office vanish once that many calls have been made.
struct Recorder {
    QStringList calls;
    int failAfter = -1;
    bool creatable = true;

    void record(const QString& call) {
        if (failAfter >= 0 && calls.size() >= failAfter)
            throw Failure(ErrorNumber::RemoteServerUnavailable,
                          QStringLiteral("The remote server machine does not exist or is "
                                         "unavailable"));
        calls.append(call);
    }
};

// Stands for every automation object at once; a range records under its name.
class Recording : public AutomationProvider,
                  public AutomationApplication,
                  public AutomationWorkbook,
                  public AutomationSheet,
                  public AutomationRange {
public:
    explicit Recording(Recorder& r, QString name = {})
        : m_r(r)
        , m_name(std::move(name)) {}
    std::unique_ptr<AutomationApplication> createApplication() override {
        if (!m_r.creatable)
            throw Failure(ErrorNumber::CannotCreateObject,
                          QStringLiteral("ActiveX component can't create object"));
        m_r.calls.append(QStringLiteral("create"));
        return made();
    }
    std::unique_ptr<AutomationWorkbook> workbooksAdd() override {
        m_r.record(QStringLiteral("Workbooks.add"));
        return made();
    }
    void setVisible(bool visible) override {
        m_r.record(QStringLiteral("Visible=") + (visible ? "true" : "false"));
    }
    std::unique_ptr<AutomationSheet> activeSheet() override { return made(); }
    std::unique_ptr<AutomationRange> cells(int row, int column) override {
        return made(QStringLiteral("cells(%1,%2)").arg(row).arg(column));
    }
    void assignCells(int row, int column, const QString& value) override {
        m_r.record(QStringLiteral("cells(%1,%2)=").arg(row).arg(column) + value);
    }
    std::unique_ptr<AutomationRange> columns(int column) override {
        return made(QStringLiteral("Columns(%1)").arg(column));
    }
    std::unique_ptr<AutomationRange> columns() override {
        return made(QStringLiteral("Columns()"));
    }
    void setNumberFormat(const QString& f) override { m_r.record(m_name + ".numberformat=" + f); }
    void setValue(const QString& v) override { m_r.record(m_name + ".Value=" + v); }
    void autofit() override { m_r.record(m_name + ".Autofit"); }

private:
    std::unique_ptr<Recording> made(const QString& name = {}) {
        return std::make_unique<Recording>(m_r, name);
    }
    Recorder& m_r;
    QString m_name;
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
    Recorder recorder;
    Form() {
        state.results().addColumnHeader(QStringLiteral("Results"));
        state.setAutomationProvider(std::make_unique<Recording>(recorder));
    }
};

QStringList cellCalls(int row, const QString& value) {
    const QString cell = QStringLiteral("cells(%1,1)").arg(row);
    return {cell + ".numberformat=@", cell + ".Value=" + value};
}

} // namespace

class TestSpreadsheetExport : public QObject {
    Q_OBJECT
private slots:
    void callOrder_data();
    void callOrder();
    void furtherColumnsLoseEqualsSigns();
    void noSpreadsheetApplication();
    void officeLostPartWay();
    void resultsShortenedDuringAYield();
};

void TestSpreadsheetExport::callOrder_data() {
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<QStringList>("calls");

    const QStringList head = {"create",
                              "create",
                              "Workbooks.add",
                              "cells(1,1).numberformat=@",
                              "cells(1,1)=Results",
                              "Columns(1).Autofit"};
    const QStringList tail = {"Columns().Autofit", "Visible=true"};
    // The probe creates an application of its own and drops it; an empty list stops there.
    QTest::newRow("no results") << QStringList{} << QStringList{"create"};
    QTest::newRow("one result") << QStringList{"=1+1"} << head + cellCalls(2, "=1+1") + tail;
    QTest::newRow("three results")
        << QStringList{"007", "1/2", "TRUE"}
        << head + cellCalls(2, "007") + cellCalls(3, "1/2") + cellCalls(4, "TRUE") + tail;
}

void TestSpreadsheetExport::callOrder() {
    QFETCH(QStringList, results);
    QFETCH(QStringList, calls);
    Form form;
    form.state.results().appendBatch(results);
    exportResultsToSpreadsheet(form.state);
    QCOMPARE(form.recorder.calls, calls);
    QVERIFY(form.ui.messages.isEmpty());
    QCOMPARE(form.state.pointer(), Pointer::Default);
}

void TestSpreadsheetExport::furtherColumnsLoseEqualsSigns() {
    Form form;
    exportTable(form.state, TwoColumns());
    const QStringList calls = form.recorder.calls;
    QVERIFY(calls.contains("cells(1,2)=Formula"));
    QVERIFY(calls.contains("cells(2,1).Value==a"));  // column 1 as it is
    QVERIFY(calls.contains("cells(2,2).Value=1+1")); // the others without "="
    QVERIFY(calls.contains("cells(3,2).Value=xy"));
    QVERIFY(calls.indexOf("cells(3,2).numberformat=@") < calls.indexOf("cells(3,2).Value=xy"));
    QCOMPARE(calls.last(), QStringLiteral("Visible=true"));
}

void TestSpreadsheetExport::noSpreadsheetApplication() {
    Form form;
    form.recorder.creatable = false;
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
    QVERIFY(form.recorder.calls.isEmpty());
    QCOMPARE(form.state.pointer(), Pointer::Default);
}

void TestSpreadsheetExport::officeLostPartWay() {
    Form form;
    for (int i = 0; i < 500; ++i)
        form.state.results().append(QString::number(i));
    form.recorder.failAfter = 40;
    exportResultsToSpreadsheet(form.state);
    QCOMPARE(form.ui.messages.size(), 1);
    QCOMPARE(form.ui.messages.first().title, QStringLiteral("Application Error"));
    QVERIFY(form.ui.messages.first().text.startsWith(
        QStringLiteral("The remote server machine does not exist or is unavailable\r\n") +
        locations::exportResultsToSpreadsheet));
    QVERIFY(!form.recorder.calls.contains("Visible=true"));
    QCOMPARE(form.state.pointer(), Pointer::Default);
}

void TestSpreadsheetExport::resultsShortenedDuringAYield() {
    Form form;
    form.yieldEveryLine();
    form.state.results().appendBatch({"a", "b", "c", "d", "e", "f"});
    const auto clear = onTurn(4, [&] { form.state.results().clear(); });
    exportResultsToSpreadsheet(form.state);
    QCOMPARE(form.ui.messages.size(), 1);
    QVERIFY(form.ui.messages.first().text.startsWith(QStringLiteral("Index out of bounds\r\n")));
    QCOMPARE(form.recorder.calls.last(), QStringLiteral("Visible=true"));
    QCOMPARE(form.state.pointer(), Pointer::Default);
}

QTEST_GUILESS_MAIN(TestSpreadsheetExport)
#include "tst_spreadsheetexport.moc"
