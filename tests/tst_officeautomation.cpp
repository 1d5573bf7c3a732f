#include "core/failure.h"
#include "output/officeautomationprovider.h"
#include "output/uno/pendingcells.h"
#if VARNEL_OFFICE_SDK
#include "tests/office/officereader.h"
#endif

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <optional>

using namespace varnel;

namespace {

// Values the office would turn into something else if they were not written as text.
const QList<std::pair<const char*, QString>>& trickyValues() {
    static const QList<std::pair<const char*, QString>> values{
        {"formula", QStringLiteral("=1+1")},
        {"leading zeros", QStringLiteral("007")},
        {"fraction", QStringLiteral("1/2")},
        {"boolean", QStringLiteral("TRUE")},
        {"time", QStringLiteral("12:30")},
        {"date", QStringLiteral("2024-01-31")},
        {"percentage", QStringLiteral("50%")},
        {"exponent", QStringLiteral("1E5")},
        {"apostrophe", QStringLiteral("'quoted")},
        {"empty", QString()},
        {"long", QStringLiteral("0123456789").repeated(500)},
        {"non-ASCII", QStringLiteral("Grüße, Ελλάδα, 東京, 😀")},
        {"blanks around", QStringLiteral("  padded\t ")},
    };
    return values;
}

QString describe(const office::PendingCells::Batch& batch) {
    QStringList lines;
    for (const auto& run : batch.formats)
        lines << QStringLiteral("format %1:%2-%3 %4")
                     .arg(run.column)
                     .arg(run.firstRow)
                     .arg(run.lastRow)
                     .arg(run.format);
    for (const auto& run : batch.values) {
        QStringList values(run.values.begin(), run.values.end());
        lines << QStringLiteral("values %1:%2 %3")
                     .arg(run.column)
                     .arg(run.firstRow)
                     .arg(values.join(QLatin1Char('|')));
    }
    return lines.join(QStringLiteral("; "));
}

// A process that has ended but was not reaped (its parent may be an init that never reaps)
// counts as gone.
bool running(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    const int state = line.lastIndexOf(')') + 2;
    return state > 1 && state < line.size() && line[state] != 'Z';
}

// Ends every process of a test office, found by its pipe name, which nothing else uses.
void endOffice(qint64 pid, const QString& pipeName, int signal) {
    QList<pid_t> processes;
    if (pid > 0)
        processes << static_cast<pid_t>(pid);
    const QString accept = QStringLiteral("name=%1;").arg(pipeName);
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (entry.toInt() > 0 && cmdline.open(QIODevice::ReadOnly) &&
            QString::fromLocal8Bit(cmdline.readAll()).contains(accept))
            processes << entry.toInt();
    }
    for (pid_t process : processes)
        ::kill(process, signal);
    const QDeadlineTimer deadline(15000);
    for (pid_t process : processes) {
        while (running(process) && !deadline.hasExpired())
            QThread::msleep(50);
        if (running(process))
            ::kill(process, SIGKILL);
    }
}

constexpr int manyRowsColumn = 10;
constexpr int lastRowColumn = 11;
constexpr int manyRows = 60000; // past the held-calls limit and several writes long

QString manyRowsValue(int row) {
    return QStringLiteral("0%1").arg(row);
}

// Why the office tests cannot run here; empty when they can.
QString officeMissing() {
#if !VARNEL_OFFICE_SDK
    return QStringLiteral("built without the LibreOffice SDK, so there is no backend to test");
#else
    if (!QFileInfo(QStringLiteral(VARNEL_OFFICE_PROGRAM_DIR "/soffice")).isExecutable())
        return QStringLiteral("LibreOffice is not installed (no %1/soffice)")
            .arg(QStringLiteral(VARNEL_OFFICE_PROGRAM_DIR));
    return {};
#endif
}

} // namespace

class TestOfficeAutomation : public QObject {
    Q_OBJECT

private slots:
    void gatheredRuns_data();
    void gatheredRuns();
    void cannotCreate_data();
    void cannotCreate();

    void exportedCell_data();
    void exportedCell();
    void exportedDocument();
    void sheetRowCount();
    void unshownDocumentIsClosed();
    void unusedOfficeEnds();
    // Ends the office, so it runs last.
    void officeGoneFails();

    void cleanupTestCase();

private:
    bool exported();

    QTemporaryDir m_profile;
    QString m_pipeName = QStringLiteral("varnel-test-%1").arg(QCoreApplication::applicationPid());
    std::optional<OfficeAutomationProvider> m_provider;
    std::unique_ptr<AutomationApplication> m_application;
    std::unique_ptr<AutomationWorkbook> m_workbook;
    std::unique_ptr<AutomationSheet> m_sheet;
    QString m_exportFailure;
    bool m_exportTried = false;
    int m_rowCount = 0; // as the backend reports it
#if VARNEL_OFFICE_SDK
    std::optional<OfficeReader> m_reader;
#endif
};

#define REQUIRE_EXPORT()                                                                           \
    do {                                                                                           \
        if (const QString missing = officeMissing(); !missing.isEmpty())                           \
            QSKIP(qPrintable(missing));                                                            \
        if (!exported())                                                                           \
            QFAIL(qPrintable(m_exportFailure));                                                    \
    } while (false)

// One export to a real office, as the export command does it, that the office tests then
// read back. Office start-up dominates the test's time, so it happens once.
bool TestOfficeAutomation::exported() {
#if VARNEL_OFFICE_SDK
    if (m_exportTried)
        return m_exportFailure.isEmpty();
    m_exportTried = true;
    try {
        OfficeLaunchOptions options;
        options.headless = true;
        options.profileDirectory = m_profile.path();
        options.pipeName = m_pipeName;
        m_provider.emplace(options);
        m_application = m_provider->createApplication();
        m_workbook = m_application->workbooksAdd();
        // The command asks for the active sheet anew on every call; so does this export.
        const auto sheet = [this] { return m_workbook->activeSheet(); };
        m_sheet = sheet();

        sheet()->assignCells(1, 1, QStringLiteral("Results"));
        int row = 2;
        for (const auto& [name, value] : trickyValues()) {
            auto cell = sheet()->cells(row++, 1);
            cell->setNumberFormat(QStringLiteral("@"));
            cell->setValue(value);
        }

        sheet()->assignCells(1, 4, QStringLiteral("first"));
        sheet()->assignCells(2, 4, QStringLiteral("gone"));
        sheet()->columns(4)->autofit(); // sends what is held, so the next writes come later
        sheet()->assignCells(1, 4, QStringLiteral("second"));
        sheet()->assignCells(2, 4, QString());
        sheet()->assignCells(1, 5, QStringLiteral("above a gap"));
        sheet()->assignCells(3, 5, QStringLiteral("below a gap"));
        auto late = sheet()->cells(1, 6);
        late->setValue(QStringLiteral("=2+2"));
        late->setNumberFormat(QStringLiteral("@"));
        sheet()->assignCells(1, 7, QStringLiteral("=3+3"));
        sheet()->columns(8)->setNumberFormat(QStringLiteral("@"));
        sheet()->cells(5, 8)->setValue(QStringLiteral("0012"));

        for (int row = 1; row <= manyRows; ++row) {
            auto cell = sheet()->cells(row, manyRowsColumn);
            cell->setNumberFormat(QStringLiteral("@"));
            cell->setValue(manyRowsValue(row));
        }

        m_rowCount = sheet()->rowCount();
        sheet()->assignCells(m_rowCount, lastRowColumn, QStringLiteral("last row"));

        sheet()->columns()->autofit();
        // A headless office has no screen to show the document on, but must not fall over
        // when asked to.
        m_application->setVisible(true);

        m_reader.emplace(m_pipeName);
    } catch (const Failure& failure) {
        m_exportFailure =
            QStringLiteral("export failed: %1 %2").arg(failure.number()).arg(failure.description());
    } catch (const std::exception& e) {
        m_exportFailure = QStringLiteral("export failed: %1").arg(QString::fromLocal8Bit(e.what()));
    }
#endif
    return m_exportFailure.isEmpty();
}

void TestOfficeAutomation::gatheredRuns_data() {
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("maxRows");
    QTest::addColumn<int>("held");
    QTest::addColumn<QString>("batch");

    QTest::newRow("format and value per cell in one run")
        << QStringList{"format 1 1 @", "value 1 1 a", "format 2 1 @", "value 2 1 b"} << 100 << 2
        << "format 1:1-2 @; values 1:1 a|b";
    QTest::newRow("rows given backwards")
        << QStringList{"value 3 1 c", "value 2 1 b", "value 1 1 a"} << 100 << 3
        << "values 1:1 a|b|c";
    QTest::newRow("later value wins")
        << QStringList{"value 1 1 a", "value 2 1 b", "value 1 1 z"} << 100 << 3 << "values 1:1 z|b";
    QTest::newRow("format after value still applies")
        << QStringList{"value 1 1 a", "format 1 1 @"} << 100 << 1 << "format 1:1-1 @; values 1:1 a";
    QTest::newRow("gap splits runs")
        << QStringList{"value 1 1 a", "value 3 1 c"} << 100 << 2 << "values 1:1 a; values 1:3 c";
    QTest::newRow("formats differ")
        << QStringList{"format 1 1 @", "format 2 1 0.00", "format 3 1 0.00"} << 100 << 3
        << "format 1:1-1 @; format 1:2-3 0.00";
    QTest::newRow("columns apart")
        << QStringList{"value 1 2 b", "value 1 1 a"} << 100 << 2 << "values 1:1 a; values 2:1 b";
    QTest::newRow("long run cut") << QStringList{"value 1 1 a", "value 2 1 b", "value 3 1 c",
                                                 "value 4 1 d", "value 5 1 e"}
                                  << 2 << 5 << "values 1:1 a|b; values 1:3 c|d; values 1:5 e";
    QTest::newRow("empty value is a write")
        << QStringList{"value 1 1 ", "value 2 1 b"} << 100 << 2 << "values 1:1 |b";
}

void TestOfficeAutomation::gatheredRuns() {
    QFETCH(QStringList, calls);
    QFETCH(int, maxRows);
    QFETCH(int, held);
    QFETCH(QString, batch);

    office::PendingCells pending;
    for (const QString& call : calls) {
        const QStringList parts = call.split(QLatin1Char(' '));
        if (parts[0] == QLatin1String("format"))
            pending.setFormat(parts[1].toInt(), parts[2].toInt(), parts[3]);
        else
            pending.setValue(parts[1].toInt(), parts[2].toInt(), parts[3]);
    }
    QCOMPARE(pending.size(), held);
    QCOMPARE(describe(pending.take(maxRows)), batch);
    QVERIFY(pending.isEmpty());
    QCOMPARE(describe(pending.take(maxRows)), QString());
}

void TestOfficeAutomation::cannotCreate_data() {
    QTest::addColumn<QByteArray>("backend"); // "built": the real one; empty: no file at all
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("started");

    QTest::newRow("backend missing") << QByteArray() << QString() << false;
    QTest::newRow("backend not a library")
        << QByteArray("not a shared library\n") << QString() << false;
    QTest::newRow("office missing") << QByteArray("built") << "no-such-office" << false;
    QTest::newRow("office not executable") << QByteArray("built") << "plain-file" << false;
    // Starts, never listens: the connection gives up at its deadline rather than wait forever.
    QTest::newRow("office never answers") << QByteArray("built") << "/bin/true" << true;
}

void TestOfficeAutomation::cannotCreate() {
    QFETCH(QByteArray, backend);
    QFETCH(QString, program);
    QFETCH(bool, started);
    if (backend == "built" && !VARNEL_OFFICE_SDK)
        QSKIP("built without the LibreOffice SDK, so there is no backend to test");

    QTemporaryDir folder;
    QFile plain(folder.filePath(QStringLiteral("plain-file")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    if (!backend.isEmpty() && backend != "built") {
        QFile file(folder.filePath(QString::fromLatin1(officeBackendFileName)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(backend);
    }
    OfficeLaunchOptions options;
    options.program = QDir(folder.path()).filePath(program); // an absolute one stays as it is
    options.headless = true;
    options.connectTimeoutMs = 1500;
    int waits = 0;
    options.waitStep = [&waits] { ++waits; };
    OfficeAutomationProvider provider(options, backend == "built" ? QString() : folder.path());
    try {
        provider.createApplication();
        QFAIL("an application without a backend or an office");
    } catch (const Failure& failure) {
        QCOMPARE(failure.number(), int(ErrorNumber::CannotCreateObject));
        QVERIFY2(failure.description().startsWith(QLatin1String("Can't create object")),
                 qPrintable(failure.description()));
    }
    QCOMPARE(provider.officeProcessId() != 0, started);
    QCOMPARE(waits > 0, started);
}

void TestOfficeAutomation::exportedCell_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("format"); // "text", "other", or empty where Calc decides

    int row = 2;
    for (const auto& [name, value] : trickyValues())
        QTest::newRow(name) << row++ << 1 << (value.isEmpty() ? "EMPTY" : "TEXT") << value
                            << "text";
    const auto cell = [](const char* name, int row, int column, const char* type, const char* text,
                         const char* format) {
        QTest::newRow(name) << row << column << QString::fromUtf8(type) << QString::fromUtf8(text)
                            << QString::fromUtf8(format);
    };
    cell("header", 1, 1, "TEXT", "Results", "");
    cell("overwritten after a flush", 1, 4, "TEXT", "second", "other");
    cell("emptied after a flush", 2, 4, "EMPTY", "", "other");
    cell("the gap", 2, 5, "EMPTY", "", "other");
    cell("format after value", 1, 6, "TEXT", "=2+2", "text");
    // Calc gives text that would read as a formula a text format of its own accord.
    cell("assigned without format", 1, 7, "TEXT", "=3+3", "");
    cell("in a text column", 5, 8, "TEXT", "0012", "text");
    cell("unwritten in a text column", 6, 8, "EMPTY", "", "text");
    cell("after many rows", manyRows + 1, manyRowsColumn, "EMPTY", "", "");
}

void TestOfficeAutomation::exportedCell() {
    REQUIRE_EXPORT();
#if VARNEL_OFFICE_SDK
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, type);
    QFETCH(QString, text);
    QFETCH(QString, format);
    const auto cell = m_reader->cell(row, column);
    QCOMPARE(cell.type, type);
    QCOMPARE(cell.text, text);
    if (!format.isEmpty())
        QCOMPARE(cell.textFormat, format == QLatin1String("text"));
#endif
}

void TestOfficeAutomation::exportedDocument() {
    REQUIRE_EXPORT();
#if VARNEL_OFFICE_SDK
    QCOMPARE(m_reader->untitledSpreadsheets(), 1);
    QCOMPARE(m_reader->url(), QString());
    QVERIFY(m_reader->modified());
    for (int column : {1, manyRowsColumn})
        QVERIFY2(m_reader->optimalWidth(column), qPrintable(QString::number(column)));
    // Fitted after its values arrived: the long value widens it past an untouched column.
    QVERIFY(m_reader->width(1) > m_reader->width(2));
    // Many rows cross the held-calls limit and several writes, and arrive whole.
    QStringList expected;
    for (int row = 1; row <= manyRows; ++row)
        expected << manyRowsValue(row);
    QCOMPARE(m_reader->columnTexts(manyRowsColumn, 1, manyRows), expected);
#endif
}

void TestOfficeAutomation::sheetRowCount() {
    REQUIRE_EXPORT();
#if VARNEL_OFFICE_SDK
    // Calc's sheets have had 2^20 rows for years; the count comes from the sheet itself,
    // and its last row takes a value.
    QCOMPARE(m_rowCount, 1 << 20);
    QCOMPARE(m_reader->cell(m_rowCount, lastRowColumn).text, QStringLiteral("last row"));
#endif
}

void TestOfficeAutomation::unshownDocumentIsClosed() {
    REQUIRE_EXPORT();
    OfficeLaunchOptions options;
    options.headless = true;
    options.profileDirectory = m_profile.path(); // so the running office takes it over
    OfficeAutomationProvider provider(options);
#if VARNEL_OFFICE_SDK
    {
        auto application = provider.createApplication();
        auto sheet = application->workbooksAdd()->activeSheet();
        sheet->assignCells(1, 1, QStringLiteral("never shown"));
        QCOMPARE(m_reader->untitledSpreadsheets(), 2);
    }
    QCOMPARE(m_reader->untitledSpreadsheets(), 1);
    QCOMPARE(m_reader->cell(1, 1).text, QStringLiteral("Results"));
#endif
}

// Regression: an office started only to learn that one can be (the check before an export of
// no results) and left without a document ran on, hidden, after the program had ended.
void TestOfficeAutomation::unusedOfficeEnds() {
    if (const QString missing = officeMissing(); !missing.isEmpty())
        QSKIP(qPrintable(missing));
    QTemporaryDir profile; // an office of its own, which nothing else holds
    OfficeLaunchOptions options;
    options.headless = true;
    options.profileDirectory = profile.path();
    options.pipeName = m_pipeName + QStringLiteral("-unused");
    OfficeAutomationProvider provider(options);
    provider.createApplication().reset();
    const auto pid = pid_t(provider.officeProcessId());
    const auto ended = qScopeGuard([&] { endOffice(pid, options.pipeName, SIGKILL); });
    QVERIFY(pid > 0);
    QTRY_VERIFY_WITH_TIMEOUT(!running(pid), 30000);
}

void TestOfficeAutomation::officeGoneFails() {
    REQUIRE_EXPORT();
    m_sheet->assignCells(1, 2, QStringLiteral("never arrives"));
    endOffice(m_provider->officeProcessId(), m_pipeName, SIGKILL);

    for (const auto& call : std::vector<std::function<void()>>{
             [&] { m_sheet->columns(2)->autofit(); },
             [&] { m_application->workbooksAdd(); },
             [&] { m_application->setVisible(true); },
         }) {
        try {
            call();
            QFAIL("a call to an office that is gone");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number(), int(ErrorNumber::RemoteServerUnavailable));
        }
    }
}

void TestOfficeAutomation::cleanupTestCase() {
    m_sheet.reset();
    m_workbook.reset();
    m_application.reset();
#if VARNEL_OFFICE_SDK
    m_reader.reset();
#endif
    if (m_provider)
        endOffice(m_provider->officeProcessId(), m_pipeName, SIGTERM);
}

QTEST_GUILESS_MAIN(TestOfficeAutomation)
#include "tst_officeautomation.moc"
