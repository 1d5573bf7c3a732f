// Every command that lets the window have turns, with the list it reads changed during
// those turns, or its own button pressed again: no crash, at most one report for a
// position that vanished, the flags and pointer back to normal and no file left broken.

#include "commands/copying.h"
#include "commands/dropping.h"
#include "commands/exporting.h"
#include "commands/extracting.h"
#include "commands/saving.h"
#include "commands/windowstate.h"
#include "core/errorreport.h"
#include "core/failure.h"
#include "output/spreadsheetautomation.h"
#include "support/commandform.h"
#include "support/testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace varnel;
using namespace varnel::testing;

namespace {

// An office that takes every call; it counts the documents shown and the cell values
// written to them.
struct OfficeCounts {
    int shown = 0;
    int values = 0;
};

template <typename Interface> struct Fake : Interface {
    explicit Fake(OfficeCounts& c)
        : counts(c) {}
    template <typename Object> std::unique_ptr<Object> make() const {
        return std::make_unique<Object>(counts);
    }
    OfficeCounts& counts;
};

struct FakeRange : Fake<AutomationRange> {
    using Fake::Fake;
    void setNumberFormat(const QString&) override {}
    void setValue(const QString&) override { ++counts.values; }
    void autofit() override {}
};

struct FakeSheet : Fake<AutomationSheet> {
    using Fake::Fake;
    std::unique_ptr<AutomationRange> cells(int, int) override { return make<FakeRange>(); }
    void assignCells(int, int, const QString&) override {}
    std::unique_ptr<AutomationRange> columns(int) override { return make<FakeRange>(); }
    std::unique_ptr<AutomationRange> columns() override { return make<FakeRange>(); }
};

struct FakeWorkbook : Fake<AutomationWorkbook> {
    using Fake::Fake;
    std::unique_ptr<AutomationSheet> activeSheet() override { return make<FakeSheet>(); }
};

struct FakeApplication : Fake<AutomationApplication> {
    using Fake::Fake;
    std::unique_ptr<AutomationWorkbook> workbooksAdd() override { return make<FakeWorkbook>(); }
    void setVisible(bool) override { ++counts.shown; }
};

struct FakeOffice : Fake<AutomationProvider> {
    using Fake::Fake;
    std::unique_ptr<AutomationApplication> createApplication() override {
        return make<FakeApplication>();
    }
};

QStringList numbered(const QString& pattern, int count) {
    QStringList lines;
    for (int i = count; i > 0; --i)
        lines.append(pattern.arg(i, 3, 10, QChar(u'0')));
    return lines;
}

const int Lines = 60;

} // namespace

class TestFaultsYields : public QObject {
    Q_OBJECT
private slots:
    void listChangedDuringYields_data();
    void listChangedDuringYields();
};

void TestFaultsYields::listChangedDuringYields_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("change"); // cleared, shortened, reloaded, again, closed
    QTest::addColumn<int>("reports");
    QTest::newRow("extraction, input reloaded") << "extract"
                                                << "reloaded" << 0;
    QTest::newRow("extraction, results cleared") << "extract"
                                                 << "results cleared" << 0;
    QTest::newRow("save, results shortened") << "save"
                                             << "shortened" << 1;
    QTest::newRow("save, results reloaded") << "save"
                                            << "reloaded" << 0;
    QTest::newRow("save, pressed again") << "save"
                                         << "again" << 0;
    QTest::newRow("copy, results cleared") << "copy"
                                           << "cleared" << 1;
    QTest::newRow("copy, results reloaded") << "copy"
                                            << "reloaded" << 0;
    QTest::newRow("copy, pressed again") << "copy"
                                         << "again" << 0;
    QTest::newRow("drop, input cleared") << "drop"
                                         << "cleared" << 0;
    QTest::newRow("drop, input reloaded") << "drop"
                                          << "reloaded" << 0;
    QTest::newRow("export, results reloaded") << "export"
                                              << "reloaded" << 0;
    QTest::newRow("export, pressed again") << "export"
                                           << "again" << 0;
    QTest::newRow("export, window closed") << "export"
                                           << "closed" << 0;
}

void TestFaultsYields::listChangedDuringYields() {
    QFETCH(QString, command);
    QFETCH(QString, change);
    QFETCH(int, reports);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString saved = dir.filePath(QStringLiteral("saved.txt"));
    writeFile(saved, "old\r\n");
    QStringList dropped; // the files of the dropped tree, in the order a drop adds them
    for (int i = 0; i < 20; ++i) {
        const QString sub = QStringLiteral("tree/f%1").arg(i, 2, 10, QChar(u'0'));
        QVERIFY(QDir(dir.path()).mkpath(sub));
        dropped.append(dir.filePath(sub + QStringLiteral("/a.txt")));
        writeFile(dropped.last(), "");
    }

    CommandForm form;
    form.yieldEveryLine();
    WindowState& state = form.state;
    ScriptedUserInterface& ui = form.ui;
    OfficeCounts office;
    state.setAutomationProvider(std::make_unique<FakeOffice>(office));
    ui.saveAnswers = QStringList{saved, saved};
    DropQueue drops;
    const QStringList original = numbered(QStringLiteral("line %1"), Lines);
    const QStringList replacement = numbered(QStringLiteral("other %1"), Lines);
    state.input().appendBatch(original);
    state.results().appendBatch(original);
    const bool readsInput = command == u"extract" || command == u"drop";
    LineListModel& list = readsInput ? state.input() : state.results();

    const auto run = [&] {
        if (command == u"extract")
            extractOutOfOrderLines(state);
        else if (command == u"save")
            saveResultsAsText(state);
        else if (command == u"copy")
            copyResultsToClipboard(state);
        else if (command == u"export")
            exportResultsToSpreadsheet(state);
        else
            addDroppedPaths(state, drops, {dir.filePath(QStringLiteral("tree"))});
    };
    bool changed = false;
    const auto timer = onTurn(3, [&] {
        changed = true;
        if (change == u"cleared")
            list.clear();
        else if (change == u"results cleared")
            state.results().clear();
        else if (change == u"shortened")
            list.removeAt(list.count());
        else if (change == u"reloaded")
            list.clear(), list.appendBatch(replacement);
        else if (change == u"again")
            run();
        else if (change == u"closed")
            state.pump().endProgram();
    });
    const Pointer before = Pointer::Arrow;
    state.setPointer(before);
    bool ended = false;
    try {
        run();
    } catch (const ProgramEnding&) {
        ended = true;
    }
    QVERIFY(changed);
    QCOMPARE(ended, change == u"closed");

    const QStringList shown = errorReports(ui);
    QCOMPARE(shown.size(), reports);
    for (const QString& report : shown)
        QVERIFY2(report.startsWith(QStringLiteral("Index out of bounds\r\n")), qPrintable(report));
    QVERIFY(!state.busy());
    // Each command leaves the pointer as it always does at its end; none leaves the hourglass.
    const Pointer after = command == u"save"                              ? Pointer::Arrow
                          : command == u"extract" || command == u"export" ? Pointer::Default
                                                                          : before;
    if (!ended)
        QCOMPARE(state.pointer(), after);

    // What each command produced is whole.
    const QStringList items = itemsOf(list);
    if (command == u"save") {
        const QByteArray bytes = contentsOf(saved);
        if (reports > 0) {
            QCOMPARE(bytes, QByteArray("old\r\n"));
        } else {
            const QList<QByteArray> written = bytes.split('\n');
            QCOMPARE(written.size(), Lines + 1);
            for (qsizetype i = 0; i < Lines; ++i) {
                const QString line = QString::fromUtf8(written[i].chopped(1));
                QVERIFY2(line == original[i] || line == items[i], qPrintable(line));
            }
        }
        QCOMPARE(ui.dialogs.size(), change == u"again" ? 2 : 1);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"saved.txt"});
    } else if (command == u"copy") {
        const int copies = change == u"again" ? 2 : 1;
        QCOMPARE(ui.messages.size(), copies + reports);
        if (reports == 0)
            QCOMPARE(ui.clipboard.count(QStringLiteral("\r\n")), Lines);
    } else if (command == u"drop") {
        // The user's own lines stay together; the drop adds its paths after them, in order.
        const QStringList kept = change == u"reloaded" ? replacement : QStringList{};
        QCOMPARE(items.mid(0, kept.size()), kept);
        const QStringList added = items.mid(kept.size());
        QVERIFY(!added.isEmpty());
        QCOMPARE(added, dropped.mid(dropped.size() - added.size()));
        QVERIFY(!drops.running);
    } else if (command == u"export") {
        QCOMPARE(office.shown, ended ? 0 : change == u"again" ? 2 : 1);
        if (!ended)
            QCOMPARE(office.values, (change == u"again" ? 2 : 1) * Lines);
    } else {
        QCOMPARE(ui.messageTexts().last(), QStringLiteral("Done."));
    }
}

QTEST_GUILESS_MAIN(TestFaultsYields)
#include "tst_faults_yields.moc"
