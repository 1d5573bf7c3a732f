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
#include "tests/support/commandform.h"
#include "tests/support/testfiles.h"

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

// A window state whose two lists hold Lines lines, a results file to save over, a tree to
// drop and an office that takes every call.
struct Scene {
    QTemporaryDir dir;
    const QString saved = dir.filePath(QStringLiteral("saved.txt"));
    QStringList dropped; // the files of the dropped tree, in the order a drop adds them
    CommandForm form;
    WindowState& state = form.state;
    ScriptedUserInterface& ui = form.ui;
    OfficeCounts office;
    DropQueue drops;
    const QStringList original = numbered(QStringLiteral("line %1"), Lines);
    const QStringList replacement = numbered(QStringLiteral("other %1"), Lines);
    bool ended = false; // the window was closed during the command

    Scene() {
        writeFile(saved, "old\r\n");
        for (int i = 0; i < 20; ++i) {
            const QString sub = QStringLiteral("tree/f%1").arg(i, 2, 10, QChar(u'0'));
            QVERIFY(QDir(dir.path()).mkpath(sub));
            dropped.append(dir.filePath(sub + QStringLiteral("/a.txt")));
            writeFile(dropped.last(), "");
        }
        form.yieldEveryLine();
        state.setAutomationProvider(std::make_unique<FakeOffice>(office));
        ui.saveAnswers = QStringList{saved, saved};
        state.input().appendBatch(original);
        state.results().appendBatch(original);
        state.setPointer(Pointer::Arrow);
    }

    // Runs `command`; on the third turn of the event loop it makes `change` to `list`.
    void run(const std::function<void()>& command, LineListModel& list, const QString& change) {
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
                command();
            else if (change == u"closed")
                state.pump().endProgram();
        });
        try {
            command();
        } catch (const ProgramEnding&) {
            ended = true;
        }
        QVERIFY(changed);
        QCOMPARE(ended, change == u"closed");
    }

    // At most the one report of a vanished position, the flag down, and the pointer as the
    // command always leaves it: never the hourglass.
    void checkEnd(int reports, Pointer pointer) {
        const QStringList shown = errorReports(ui);
        QCOMPARE(shown.size(), reports);
        for (const QString& report : shown)
            QVERIFY2(report.startsWith(QStringLiteral("Index out of bounds\r\n")),
                     qPrintable(report));
        QVERIFY(!state.busy());
        if (!ended)
            QCOMPARE(state.pointer(), pointer);
    }
};

void changes(std::initializer_list<std::pair<const char*, int>> rows) {
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("reports");
    for (const auto& [change, reports] : rows)
        QTest::newRow(change) << QString::fromLatin1(change) << reports;
}

} // namespace

class TestFaultsYields : public QObject {
    Q_OBJECT
private slots:
    void extraction_data() { changes({{"reloaded", 0}, {"results cleared", 0}}); }
    void extraction();
    void save_data() { changes({{"shortened", 1}, {"reloaded", 0}, {"again", 0}}); }
    void save();
    void copy_data() { changes({{"cleared", 1}, {"reloaded", 0}, {"again", 0}}); }
    void copy();
    void drop_data() { changes({{"cleared", 0}, {"reloaded", 0}}); }
    void drop();
    void spreadsheet_data() { changes({{"reloaded", 0}, {"again", 0}, {"closed", 0}}); }
    void spreadsheet();
};

void TestFaultsYields::extraction() {
    QFETCH(QString, change);
    QFETCH(int, reports);
    Scene s;
    s.run([&] { extractOutOfOrderLines(s.state); }, s.state.input(), change);
    s.checkEnd(reports, Pointer::Default);
    QCOMPARE(s.ui.messageTexts().last(), QStringLiteral("Done."));
}

void TestFaultsYields::save() {
    QFETCH(QString, change);
    QFETCH(int, reports);
    Scene s;
    s.run([&] { saveResultsAsText(s.state); }, s.state.results(), change);
    s.checkEnd(reports, Pointer::Arrow);
    // The file is whole: the old one, or every line as it stood when it was written.
    const QByteArray bytes = contentsOf(s.saved);
    if (reports > 0) {
        QCOMPARE(bytes, QByteArray("old\r\n"));
    } else {
        const QStringList items = itemsOf(s.state.results());
        const QList<QByteArray> written = bytes.split('\n');
        QCOMPARE(written.size(), Lines + 1);
        for (qsizetype i = 0; i < Lines; ++i) {
            const QString line = QString::fromUtf8(written[i].chopped(1));
            QVERIFY2(line == s.original[i] || line == items[i], qPrintable(line));
        }
    }
    QCOMPARE(s.ui.dialogs.size(), change == u"again" ? 2 : 1);
    QCOMPARE(QDir(s.dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"saved.txt"});
}

void TestFaultsYields::copy() {
    QFETCH(QString, change);
    QFETCH(int, reports);
    Scene s;
    s.run([&] { copyResultsToClipboard(s.state); }, s.state.results(), change);
    s.checkEnd(reports, Pointer::Arrow);
    const int copies = change == u"again" ? 2 : 1;
    QCOMPARE(s.ui.messages.size(), copies + reports);
    if (reports == 0)
        QCOMPARE(s.ui.clipboard.count(QStringLiteral("\r\n")), Lines);
}

void TestFaultsYields::drop() {
    QFETCH(QString, change);
    QFETCH(int, reports);
    Scene s;
    s.run([&] { addDroppedPaths(s.state, s.drops, {s.dir.filePath(QStringLiteral("tree"))}); },
          s.state.input(), change);
    s.checkEnd(reports, Pointer::Arrow);
    // The user's own lines stay together; the drop adds its paths after them, in order.
    const QStringList items = itemsOf(s.state.input());
    const QStringList kept = change == u"reloaded" ? s.replacement : QStringList{};
    QCOMPARE(items.mid(0, kept.size()), kept);
    const QStringList added = items.mid(kept.size());
    QVERIFY(!added.isEmpty());
    QCOMPARE(added, s.dropped.mid(s.dropped.size() - added.size()));
    QVERIFY(!s.drops.running);
}

void TestFaultsYields::spreadsheet() {
    QFETCH(QString, change);
    QFETCH(int, reports);
    Scene s;
    s.run([&] { exportResultsToSpreadsheet(s.state); }, s.state.results(), change);
    s.checkEnd(reports, Pointer::Default);
    const int exports = change == u"again" ? 2 : 1;
    QCOMPARE(s.office.shown, s.ended ? 0 : exports);
    if (!s.ended)
        QCOMPARE(s.office.values, exports * Lines);
}

QTEST_GUILESS_MAIN(TestFaultsYields)
#include "tst_faults_yields.moc"
