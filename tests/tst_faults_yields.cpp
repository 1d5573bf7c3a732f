// Every command that lets the window have turns, with the list it reads changed during
// those turns, or its own button pressed again: no crash, no report, the flags and pointer
// back to normal and no file left broken. A command that writes the results out writes
// them as they were when it started.

#include "commands/commandsummaries.h"
#include "commands/copying.h"
#include "commands/dropping.h"
#include "commands/exporting.h"
#include "commands/extracting.h"
#include "commands/saving.h"
#include "commands/windowstate.h"
#include "core/errorreport.h"
#include "core/failure.h"
#include "tests/support/commandform.h"
#include "tests/support/fakeoffice.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace varnel;
using namespace varnel::testing;

namespace {

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
    OfficeRecord office;
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

    // Runs `command`; on the third turn of the event loop it makes `change` to `list`. Turns
    // while the office works aside are not counted: their number is the other thread's.
    void run(const std::function<void()>& command, LineListModel& list, const QString& change) {
        bool changed = false;
        const auto timer = onTurn(
            3,
            [&] {
                changed = true;
                if (change == u"cleared")
                    list.clear();
                else if (change == u"results cleared")
                    state.results().clear();
                else if (change == u"extracted")
                    extractOutOfOrderLines(state);
                else if (change == u"shortened")
                    list.removeAt(list.count());
                else if (change == u"reloaded")
                    list.clear(), list.appendBatch(replacement);
                else if (change == u"again")
                    command();
                else if (change == u"closed")
                    state.pump().endProgram();
            },
            &state.pump());
        try {
            command();
        } catch (const ProgramEnding&) {
            ended = true;
        }
        QVERIFY(changed);
        QCOMPARE(ended, change == u"closed");
    }

    // No report, the flag down, and the pointer as the command always leaves it (none: as
    // it found it, which another command may have changed); never the hourglass.
    void checkEnd(std::optional<Pointer> pointer, const QStringList& reports = {}) {
        QCOMPARE(reportHeads(ui), reports);
        QVERIFY(!state.busy());
        QVERIFY(!state.showsHourglass() || ended);
        if (!ended && pointer)
            QCOMPARE(state.pointer(), *pointer);
    }
};

void changes(std::initializer_list<const char*> rows) {
    QTest::addColumn<QString>("change");
    for (const char* change : rows)
        QTest::newRow(change) << QString::fromLatin1(change);
}

const QString CopiedMessage =
    QStringLiteral("Results have been copied to the clipboard.\r\rClick a text area where you "
                   "normally type and press Ctrl+V to paste the clipboard.");

const QString ChangedReport = QStringLiteral(
    "File changed by another program after you chose to overwrite it; it was left "
    "as that program left it\r\nin Varnel2021/08/31.Form1.PushButton6_Click at line 140");

} // namespace

class TestFaultsYields : public QObject {
    Q_OBJECT
private slots:
    void extraction_data() { changes({"reloaded", "results cleared"}); }
    void extraction();
    void resultsWrittenOut_data();
    void resultsWrittenOut();
    void drop_data() { changes({"cleared", "reloaded"}); }
    void drop();
};

void TestFaultsYields::extraction() {
    QFETCH(QString, change);
    Scene s;
    s.run([&] { extractOutOfOrderLines(s.state); }, s.state.input(), change);
    s.checkEnd(Pointer::Default);
    QCOMPARE(s.ui.messageTexts().last(), QStringLiteral("Done."));
}

void TestFaultsYields::resultsWrittenOut_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("change");
    for (const char* command : {"save", "copy", "export"}) {
        // "extracted": "Start Extracting Lines" puts 59 results where the 60 were.
        for (const char* change : {"extracted", "shortened", "cleared", "reloaded", "again"})
            QTest::addRow("%s, %s", command, change) << command << change;
    }
    QTest::newRow("export, closed") << "export"
                                    << "closed";
}

// The file, the clipboard and the sheet get exactly the results the command started with,
// whatever happened to the list meanwhile, and the command says it did so.
void TestFaultsYields::resultsWrittenOut() {
    QFETCH(QString, command);
    QFETCH(QString, change);
    Scene s;
    const std::function<void()> commands[] = {[&] { saveResultsAsText(s.state); },
                                              [&] { copyResultsToClipboard(s.state); },
                                              [&] { exportResultsToSpreadsheet(s.state); }};
    const qsizetype which = QStringList{"save", "copy", "export"}.indexOf(command);
    s.run(commands[which], s.state.results(), change);
    const std::optional<Pointer> pointers[] = {Pointer::Arrow, std::nullopt, Pointer::Default};
    // The save run again replaces the file after the first one was told to overwrite it: the
    // first then leaves the file as the second wrote it.
    const bool changedMeanwhile = command == u"save" && change == u"again";
    s.checkEnd(pointers[which], changedMeanwhile ? QStringList{ChangedReport} : QStringList{});
    const int runs = s.ended ? 0 : change == u"again" ? 2 : 1;
    if (command == u"save") {
        QCOMPARE(contentsOf(s.saved), (s.original.join(QStringLiteral("\r\n")) + "\r\n").toUtf8());
        if (!changedMeanwhile)
            QCOMPARE(s.state.progress().text(), summaries::saved(Lines));
        QCOMPARE(s.ui.dialogs.size(), runs);
        QCOMPARE(QDir(s.dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"saved.txt"});
    } else if (command == u"copy") {
        QCOMPARE(s.ui.clipboard, s.original.join(QStringLiteral("\r\n")) + "\r\n");
        QCOMPARE(s.ui.messageTexts().count(CopiedMessage), runs);
    } else {
        QStringList sheets;
        for (int i = 0; i < runs; ++i)
            sheets += s.original;
        QCOMPARE(s.office.values, sheets);
        QCOMPARE(s.office.shown, runs);
    }
}

void TestFaultsYields::drop() {
    QFETCH(QString, change);
    Scene s;
    s.run([&] { addDroppedPaths(s.state, s.drops, {s.dir.filePath(QStringLiteral("tree"))}); },
          s.state.input(), change);
    s.checkEnd(Pointer::Arrow);
    // The user's own lines stay together; the drop adds its paths after them, in order.
    const QStringList items = itemsOf(s.state.input());
    const QStringList kept = change == u"reloaded" ? s.replacement : QStringList{};
    QCOMPARE(items.mid(0, kept.size()), kept);
    const QStringList added = items.mid(kept.size());
    QVERIFY(!added.isEmpty());
    QCOMPARE(added, s.dropped.mid(s.dropped.size() - added.size()));
    QVERIFY(!s.drops.running);
}

QTEST_GUILESS_MAIN(TestFaultsYields)
#include "tst_faults_yields.moc"
