#include "commands/commandsummaries.h"
#include "commands/copying.h"
#include "commands/correctorder.h"
#include "commands/editing.h"
#include "commands/extracting.h"
#include "core/commandprogress.h"
#include "core/failure.h"
#include "tests/support/commandform.h"
#include "tests/support/drivenclock.h"
#include "tests/support/testfiles.h"

#include <QLocale>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace varnel;
using namespace varnel::testing;
using namespace std::chrono_literals;

enum class Wording {
    Checked,
    CancelledAt,
    Sorting,
    Checking,
    Sorted,
    SortCancelled,
    AddedDropped,
    DroppedCancelled,
    SaveCancelledAt
};

QString worded(Wording wording, qint64 a, qint64 b) {
    switch (wording) {
    case Wording::Checked:
        return summaries::checked(a, b);
    case Wording::CancelledAt:
        return summaries::cancelledAt(a, b);
    case Wording::Sorting:
        return summaries::sorting(a);
    case Wording::Checking:
        return summaries::checking(a);
    case Wording::Sorted:
        return summaries::sorted(a);
    case Wording::SortCancelled:
        return summaries::sortCancelled(a);
    case Wording::AddedDropped:
        return summaries::addedDropped(a);
    case Wording::DroppedCancelled:
        return summaries::droppedCancelled(a);
    case Wording::SaveCancelledAt:
        return summaries::saveCancelledAt(a, b);
    }
    return {};
}

Q_DECLARE_METATYPE(Wording)

class TestCommandProgress : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void summaryTexts_data();
    void summaryTexts();
    void showsOnlyAfterHalfASecond();
    void cancelHoldsUntilTheNextCommand();
    void extractionSummary_data();
    void extractionSummary();
    void cancelledExtractionRunsItsClosingSteps();
    void cancelledCorrectOrderLeavesTheListEmptyAndSorted();
    void correctOrderSummary();
    void correctOrderProgressOnlyMovesForward();
    void copyingCannotBeCancelled();
};

void TestCommandProgress::summaryTexts_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<Wording>("wording");
    QTest::addColumn<qint64>("a");
    QTest::addColumn<qint64>("b");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const char* locale, Wording wording, qint64 a, qint64 b,
                        const char* expected) {
        QTest::newRow(name) << QString::fromLatin1(locale) << wording << a << b
                            << QString::fromUtf8(expected);
    };
    row("some out of order", "en_US", Wording::Checked, 906040, 10000000,
        "906,040 of 10,000,000 lines out of order");
    row("German separators", "de_DE", Wording::Checked, 906040, 10000000,
        "906.040 of 10.000.000 lines out of order");
    row("one out of order", "en_US", Wording::Checked, 1, 2, "1 of 2 lines out of order");
    row("all in order", "en_US", Wording::Checked, 0, 3, "All 3 lines are in order");
    row("the one line", "en_US", Wording::Checked, 0, 1, "The one line is in order");
    row("cancelled walk", "en_US", Wording::CancelledAt, 4000, 10000000,
        "Cancelled at line 4,000 of 10,000,000");
    row("sorting", "en_US", Wording::Sorting, 10000000, 0, "Sorting 10,000,000 lines…");
    row("checking one", "en_US", Wording::Checking, 1, 0, "Checking 1 line…");
    row("sorted", "en_US", Wording::Sorted, 10000000, 0, "10,000,000 lines in correct order");
    row("sort cancelled", "en_US", Wording::SortCancelled, 10000000, 0,
        "Cancelled sorting 10,000,000 lines");
    row("added one path", "en_US", Wording::AddedDropped, 1, 0, "Added 1 path");
    row("added paths", "en_US", Wording::AddedDropped, 12345, 0, "Added 12,345 paths");
    row("drop cancelled", "en_US", Wording::DroppedCancelled, 0, 0, "Cancelled; 0 paths kept");
    row("save cancelled", "en_US", Wording::SaveCancelledAt, 2, 1000,
        "Cancelled at line 2 of 1,000; the file was left as it was");
}

void TestCommandProgress::summaryTexts() {
    QFETCH(QString, locale);
    QFETCH(Wording, wording);
    QFETCH(qint64, a);
    QFETCH(qint64, b);
    QFETCH(QString, expected);
    QLocale::setDefault(QLocale(locale));
    const QString text = worded(wording, a, b);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(text, expected);
}

void TestCommandProgress::showsOnlyAfterHalfASecond() {
    EventPump pump;
    CommandProgress progress(pump, &readFakeNow);
    QSignalSpy changed(&progress, &CommandProgress::changed);
    progress.start(CommandProgress::Place::Results, summaries::checking(200), 200);
    progress.setDone(80);
    fakeNow += 499ms;
    progress.refresh();
    QVERIFY(!progress.isShown());
    QCOMPARE(changed.count(), 0);
    fakeNow += 1ms;
    progress.refresh();
    QVERIFY(progress.isShown());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(progress.text(), QStringLiteral("Checking 200 lines… 40 %"));
    progress.refresh(); // the same share: nothing new to show
    QCOMPARE(changed.count(), 1);
    progress.setDone(199);
    progress.refresh();
    QCOMPARE(changed.count(), 2);
    QCOMPARE(progress.percent(), 99); // 100 % only once it is all done
    // A figure once shown is not taken back, whatever the next phase reckons.
    progress.setShareSource([] { return 0.5; });
    QCOMPARE(progress.percent(), 99);
    progress.finish(summaries::checked(0, 200));
    QVERIFY(progress.isShown());
    QVERIFY(!progress.isRunning());
    QCOMPARE(progress.text(), QStringLiteral("All 200 lines are in order"));
    // The next command puts the summary away at once, before its own half second.
    changed.clear();
    progress.start(CommandProgress::Place::Input, summaries::sorting(3), 3);
    QVERIFY(!progress.isShown());
    QCOMPARE(changed.count(), 1);
    progress.clear();
    QVERIFY(!progress.isShown());
    // Work of no known size counts what it has done.
    progress.start(CommandProgress::Place::Input, summaries::addingDropped(),
                   CommandProgress::CountOnly);
    fakeNow += CommandProgress::ShowAfter;
    progress.refresh();
    progress.setDone(1234);
    changed.clear();
    progress.refresh();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(progress.text(), QStringLiteral("Adding dropped files… 1,234 so far"));
}

void TestCommandProgress::cancelHoldsUntilTheNextCommand() {
    EventPump pump;
    CommandProgress progress(pump);
    progress.cancel(); // nothing runs: nothing to cancel
    QVERIFY(!pump.commandCancelled());
    progress.start(CommandProgress::Place::Results, summaries::sorting(3), 3);
    QVERIFY(!progress.cancelRequested());
    progress.cancel();
    QVERIFY(progress.cancelRequested());
    // Work sent aside after the cancel is told to stop before it starts.
    bool stopSeen = false;
    QVERIFY_THROWS_EXCEPTION(CommandCancelled, pump.runAside([&] {
        stopSeen = pump.stopRequested();
        throw ProgramEnding{};
    }));
    QVERIFY(stopSeen);
    QVERIFY(progress.cancelRequested());
    progress.start(CommandProgress::Place::Results, summaries::sorting(3), 3);
    QVERIFY(!progress.cancelRequested());
    // Without a cancel, a stop of the work aside is the program's end.
    QVERIFY_THROWS_EXCEPTION(ProgramEnding, pump.runAside([] { throw ProgramEnding{}; }));
}

void TestCommandProgress::extractionSummary_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("summary");
    QTest::newRow("sample") << sampleLines() << QStringLiteral("1 of 10 lines out of order");
    QTest::newRow("in order") << QStringList{"a", "B", "c"}
                              << QStringLiteral("All 3 lines are in order");
    QTest::newRow("all out of order")
        << descending(4) << QStringLiteral("3 of 4 lines out of order");
}

void TestCommandProgress::extractionSummary() {
    QFETCH(QStringList, lines);
    QFETCH(QString, summary);
    CommandForm form;
    form.state.input().appendBatch(lines);
    extractOutOfOrderLines(form.state);
    QVERIFY(form.state.progress().isShown());
    QCOMPARE(form.state.progress().text(), summary);
    QCOMPARE(form.ui.messageTexts(), QStringList{QStringLiteral("Done.")});
}

void TestCommandProgress::cancelledExtractionRunsItsClosingSteps() {
    CommandForm form;
    form.yieldEveryLine();
    form.state.input().appendBatch(descending(1000));
    // Every pair is out of order: each step of the walk before the cancel finds one.
    const auto cancel = onTurn(50, [&] { form.state.progress().cancel(); });
    extractOutOfOrderLines(form.state);
    QCOMPARE(form.ui.messageTexts(), QStringList{QStringLiteral("Done.")});
    QVERIFY(!form.state.busy());
    QVERIFY(!form.state.progress().isRunning());
    const QString text = form.state.progress().text();
    QVERIFY2(text.startsWith(QStringLiteral("Cancelled at line ")), qPrintable(text));
    const qsizetype at = text.section(QLatin1Char(' '), 3, 3).toLongLong();
    QVERIFY(at > 1 && at < 1000);
    QCOMPARE(text, summaries::cancelledAt(at, 1000));
    // Every line before the one it stopped at was checked against the line below it.
    QCOMPARE(form.state.results().count(), at - 2);
    QCOMPARE(form.state.results().text(1), form.state.input().text(1));
}

void TestCommandProgress::cancelledCorrectOrderLeavesTheListEmptyAndSorted() {
    CommandForm form;
    form.state.input().appendBatch(descending(30000)); // enough to be sorted aside
    form.state.results().appendBatch({QStringLiteral("earlier result")});
    const auto cancel = onTurn(1, [&] { form.state.progress().cancel(); });
    showCorrectOrder(form.state);
    QCOMPARE(form.state.results().count(), 0);
    QVERIFY(form.state.results().isSorted());
    QVERIFY(form.ui.messages.isEmpty());
    QCOMPARE(form.state.progress().text(), QStringLiteral("Cancelled sorting 30,000 lines"));
    // The next run is not cancelled by the last one's request.
    showCorrectOrder(form.state);
    QCOMPARE(form.state.results().count(), 30000);
    QCOMPARE(form.state.progress().text(), QStringLiteral("30,000 lines in correct order"));
}

void TestCommandProgress::correctOrderSummary() {
    CommandForm form;
    form.state.input().appendBatch(sampleLines());
    showCorrectOrder(form.state);
    QCOMPARE(form.state.progress().text(), QStringLiteral("10 lines in correct order"));
    QVERIFY(form.state.progress().isShown());
}

// Every turn while it sorts, makes the rows aside and shows them: one figure that never goes
// back and reads 100 % with the last rows shown.
void TestCommandProgress::correctOrderProgressOnlyMovesForward() {
    CommandForm form;
    form.state.input().appendBatch(descending(30000)); // enough to be sorted aside
    CommandProgress& progress = form.state.progress();
    QList<int> seen;
    const auto note = [&] {
        if (progress.isRunning())
            seen.append(progress.percent());
    };
    QTimer everyTurn;
    connect(&everyTurn, &QTimer::timeout, note);
    everyTurn.start(0);
    connect(&form.state.results(), &QAbstractItemModel::rowsInserted, note);
    showCorrectOrder(form.state);
    QVERIFY(seen.size() > 2);
    QVERIFY2(std::is_sorted(seen.begin(), seen.end()), qPrintable(QDebug::toString(seen)));
    QCOMPARE(seen.last(), 100);
}

void TestCommandProgress::copyingCannotBeCancelled() {
    CommandForm form;
    form.yieldEveryLine();
    form.state.results().appendBatch(descending(2000));
    bool cancelShown = true;
    const auto cancel = onTurn(100, [&form, &cancelShown] {
        cancelShown = form.state.progress().isCancellable();
        QCOMPARE(form.state.progress().percent(), 2); // 100 of 4,000 asks
        form.state.progress().cancel();
    });
    copyResultsToClipboard(form.state);
    QVERIFY(!cancelShown);
    QCOMPARE(form.ui.clipboard.count(u'\n'), 2000); // every line, each with its break
    QCOMPARE(form.state.progress().text(), QStringLiteral("Copied 2,000 lines"));
    QCOMPARE(form.ui.messages.size(), 1);
}

QTEST_GUILESS_MAIN(TestCommandProgress)
#include "tst_commandprogress.moc"
