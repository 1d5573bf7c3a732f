// Drives the real main window offscreen through its real buttons, with scripted dialog
// answers, and prints one "name value" line per figure for bench/run.sh.

#include "app/findpopup.h"
#include "app/linelistview.h"
#include "app/listkeys.h"
#include "app/mainwindow.h"
#include "app/qtuserinterface.h"
#include "app/scrollmarks.h"
#include "commands/undoing.h"
#include "commands/windowstate.h"
#include "core/eventpump.h"
#include "core/memorypolicy.h"
#include "core/userinterface.h"
#include "lists/ordermarks.h"
#include "output/officeautomationprovider.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cstdio>
#include <ctime>
#include <functional>

namespace {

// Dialog answers come from the command line; the clipboard is the real one, as the window
// keeps it.
class BenchUserInterface : public varnel::UserInterface {
public:
    QString openPath;
    QString savePath;
    QStringList messages;

    void showMessage(const QString& text, const QString&, varnel::MessageIcon) override {
        messages.append(text);
    }
    bool askYesNo(const QString&, const QString&) override { return true; }
    QString inputText(const QString&, const QString&) override { return {}; }
    QStringList openFileNames(const varnel::FileDialogRequest&) override { return {openPath}; }
    QString saveFileName(const varnel::FileDialogRequest&) override { return savePath; }
    void clearClipboard() override { m_real.clearClipboard(); }
    void setClipboardText(const QString& text) override { m_real.setClipboardText(text); }
    void setClipboardUtf8(const QByteArray& utf8) override { m_real.setClipboardUtf8(utf8); }

private:
    varnel::QtUserInterface m_real;
};

double secondsSinceProcessStart() {
    // Field 22 of /proc/self/stat: start time in clock ticks after boot.
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double started = fields.value(19).toDouble() / double(sysconf(_SC_CLK_TCK));
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9 - started;
}

void report(const char* name, double value) {
    std::printf("%s %.4f\n", name, value);
    std::fflush(stdout);
}

double residentMiB() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    return statm.readAll().split(' ').value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) /
           1048576.0;
}

long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Timing {
    double seconds;
    double longestGapSeconds;
};

Timing timeCommand(varnel::MainWindow& window, const std::function<void()>& command) {
    varnel::EventPump& pump = window.state().pump();
    pump.resetStatistics();
    QElapsedTimer clock;
    clock.start();
    command();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const double gap = double(std::max(pump.longestGap(), pump.sinceLastTurn()).count()) / 1e6;
    if (qEnvironmentVariableIsSet("VARNEL_BENCH_TRACE_MEMORY"))
        std::fprintf(stderr, "peak so far %.1f MiB, now %.1f MiB\n",
                     double(peakResidentKiB()) / 1024.0, residentMiB());
    return {seconds, gap};
}

void click(varnel::MainWindow& window, const char* button) {
    window.button(button)->click();
}

void drop(varnel::MainWindow& window, const QString& folder) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(folder)});
    QWidget* target = window.inputView()->viewport();
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropped);
    // The window takes the drop in on its next turn, so the file manager is not kept
    // waiting; that turn is the walk.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

// From selecting a result far down the list to the input list painted with its line
// selected: the slowest of five, each a different result.
void reportLinks(varnel::MainWindow& window) {
    const varnel::LineListModel& input = window.state().input();
    const varnel::LineListModel& results = window.state().results();
    if (results.count() < 5)
        return;
    double slowest = 0;
    for (int i = 1; i <= 5; ++i) {
        const int row = int(results.count()) - i;
        QElapsedTimer clock;
        clock.start();
        window.resultsView()->setCurrentIndex(results.index(row));
        window.inputView()->viewport()->repaint();
        slowest = std::max(slowest, double(clock.nsecsElapsed()) / 1e9);
        const auto line = window.state().links().inputPosition(row + 1);
        if (!line || window.inputView()->currentIndex().row() + 1 != *line)
            std::fprintf(stderr, "result %d did not lead to its line\n", row + 1);
    }
    report("select_result_s", slowest);
    // Entries are what each line costs apart from its text; the link is one field of them.
    report("link_bytes", double(sizeof(results.link(1))));
    report("entry_bytes_result", double(results.entryBytes()) / double(results.count()));
    report("entry_bytes_input", double(input.entryBytes()) / double(input.count()));
}

// The longest the window's thread went without turning its event loop while `work` ran:
// a timer that fires on every turn notes the time between its firings. For work that turns
// the loop by itself (the order marks looking a slice at a time) as for work that does not
// (an undo, a paint), whose whole time is then the gap.
double longestLoopGap(const std::function<void()>& work) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer beat;
    beat.setInterval(0);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    beat.start();
    work();
    longest = std::max(longest, clock.nsecsElapsed() - last);
    return double(longest) / 1e9;
}

// Takes the last change back through the window's own undo, then lets the views catch up
// and paint.
void undoAndShow(varnel::MainWindow& window) {
    if (!varnel::undoEdit(window.state()))
        std::fprintf(stderr, "undo was refused\n");
    QCoreApplication::processEvents();
    window.inputView()->viewport()->repaint();
    window.resultsView()->viewport()->repaint();
}

// The slowest full paint of both lists and the scroll-bar marks at five places in a long
// list, with a result selected so its line and partner are drawn marked.
double slowestPaint(varnel::MainWindow& window) {
    varnel::LineListView* input = window.inputView();
    varnel::LineListView* results = window.resultsView();
    const qsizetype lines = window.state().input().count();
    double slowest = 0;
    for (int i = 0; i < 5; ++i) {
        const qsizetype row = lines / 5 * i;
        input->scrollTo(window.state().input().index(int(row)));
        if (window.state().results().count() > 0)
            results->setCurrentIndex(
                window.state().results().index(int(window.state().results().count() / 5 * i)));
        QElapsedTimer clock;
        clock.start();
        input->viewport()->repaint();
        results->viewport()->repaint();
        window.scrollMarks()->repaint();
        slowest = std::max(slowest, double(clock.nsecsElapsed()) / 1e9);
    }
    return slowest;
}

// The office an export started ends with the bench: the user would close it.
void endOffice(qint64 pid) {
    if (pid <= 0)
        return;
    ::kill(pid_t(pid), SIGTERM);
    for (int i = 0; i < 200 && ::kill(pid_t(pid), 0) == 0; ++i)
        QThread::msleep(50);
    ::kill(pid_t(pid), SIGKILL);
}

// "Save Results As Excel File" against a headless LibreOffice of its own profile. With
// `linesPath`, the exported results are also written there, one a line, for timing the office
// opening them as a CSV file.
void reportExport(varnel::MainWindow& window, const QString& linesPath) {
    if (!linesPath.isEmpty()) {
        QFile lines(linesPath);
        QByteArray text;
        const varnel::LineListModel& results = window.state().results();
        for (qsizetype k = 1; k <= results.count(); ++k)
            text += results.text(k).toUtf8() + '\n';
        if (!lines.open(QIODevice::WriteOnly) || lines.write(text) != text.size())
            std::fprintf(stderr, "cannot write %s\n", qPrintable(linesPath));
    }
    QTemporaryDir profile;
    varnel::OfficeLaunchOptions options;
    options.headless = true;
    options.profileDirectory = profile.path();
    varnel::EventPump& pump = window.state().pump();
    options.waitStep = [&pump] { pump.yieldNow(); };
    options.runAside = [&pump](const std::function<void()>& work) { pump.runAside(work); };
    auto provider = std::make_unique<varnel::OfficeAutomationProvider>(options);
    varnel::OfficeAutomationProvider* office = provider.get();
    window.state().setAutomationProvider(std::move(provider));
    const Timing exported = timeCommand(window, [&] { click(window, "PushButton2"); });
    report("export_s", exported.seconds);
    report("export_gap_s", exported.longestGapSeconds);
    endOffice(office->officeProcessId());
}

} // namespace

int main(int argc, char** argv) {
    varnel::returnLargeBuffersToTheSystem(); // as the program does
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const auto option = [&args](const QString& name) {
        const qsizetype at = args.indexOf(name);
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : QString();
    };
    BenchUserInterface ui;
    ui.openPath = option(QStringLiteral("--file"));
    ui.savePath = option(QStringLiteral("--save"));
    const QString tree = option(QStringLiteral("--tree"));

    varnel::MainWindow window(&ui);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    report("startup_s", secondsSinceProcessStart());
    report("startup_rss_mib", residentMiB());

    if (!ui.openPath.isEmpty()) {
        const Timing load = timeCommand(window, [&] { click(window, "PushButton4"); });
        report("load_s", load.seconds);
        report("load_gap_s", load.longestGapSeconds);
        report("lines", double(window.state().input().count()));
        report("marks_gap_s", longestLoopGap([&] {
                   varnel::OrderMarks& marks = window.scrollMarks()->marks();
                   QElapsedTimer waited;
                   waited.start();
                   while (!marks.isSettled() && waited.elapsed() < 120000)
                       QCoreApplication::processEvents(QEventLoop::AllEvents);
                   if (!marks.isSettled())
                       std::fprintf(stderr, "the order marks did not settle\n");
               }));
        // A search that finds nothing looks at every line: the longest there is.
        varnel::FindPopup* find = window.listKeys()->findPopup();
        find->openOver(window.inputView());
        find->field()->setText(QStringLiteral("\u0001no line holds this\u0001"));
        const Timing search = timeCommand(window, [&] { find->findAgain(true); });
        find->hide();
        report("find_s", search.seconds);
        report("find_gap_s", search.longestGapSeconds);
        const Timing extract = timeCommand(window, [&] { click(window, "PushButton7"); });
        report("extract_s", extract.seconds);
        report("extract_gap_s", extract.longestGapSeconds);
        report("results", double(window.state().results().count()));
        reportLinks(window);
        if (!ui.savePath.isEmpty()) {
            const Timing save = timeCommand(window, [&] { click(window, "PushButton6"); });
            report("save_s", save.seconds);
            report("save_gap_s", save.longestGapSeconds);
        }
        const Timing copy = timeCommand(window, [&] { click(window, "PushButton8"); });
        report("copy_s", copy.seconds);
        report("copy_gap_s", copy.longestGapSeconds);
        const Timing order = timeCommand(window, [&] { click(window, "PushButton5"); });
        report("order_s", order.seconds);
        report("order_gap_s", order.longestGapSeconds);
        // Saving the sorted list writes every line: the heaviest save there is.
        if (!ui.savePath.isEmpty()) {
            const Timing save = timeCommand(window, [&] { click(window, "PushButton6"); });
            report("save_all_s", save.seconds);
            report("save_all_gap_s", save.longestGapSeconds);
        }
        // What the list costs at its largest: after the load, the extraction and the sort.
        report("peak_rss_mib", double(peakResidentKiB()) / 1024.0);
        report("paint_gap_s", slowestPaint(window));
        // Back to the extraction's results and forward again: ten million rows each way.
        double undoGap = longestLoopGap([&] { undoAndShow(window); });
        if (!varnel::redoEdit(window.state()))
            std::fprintf(stderr, "redo was refused\n");
        QCoreApplication::processEvents();
        // Clearing the input and taking that back moves every line's entry.
        click(window, "PushButton3");
        undoGap = std::max(undoGap, longestLoopGap([&] { undoAndShow(window); }));
        report("undo_gap_s", undoGap);
    }
    // The extraction's results, as many as there are, not the sorted list, exported last: the
    // office goes on shutting down a while after it was told to end.
    const bool exporting = args.contains(QStringLiteral("--export")) && !ui.openPath.isEmpty();
    if (exporting)
        click(window, "PushButton7");
    if (!tree.isEmpty()) {
        click(window, "PushButton3");
        const Timing walk = timeCommand(window, [&] { drop(window, tree); });
        report("drop_s", walk.seconds);
        report("drop_gap_s", walk.longestGapSeconds);
        report("dropped", double(window.state().input().count()));
    }
    if (exporting && window.state().results().count() > 0) {
        report("exported", double(window.state().results().count()));
        reportExport(window, option(QStringLiteral("--export-lines")));
    }
    if (ui.openPath.isEmpty())
        report("peak_rss_mib", double(peakResidentKiB()) / 1024.0);
    for (const QString& m : ui.messages)
        if (m != QStringLiteral("Done.") && !m.startsWith(QStringLiteral("Results have been")))
            std::fprintf(stderr, "message: %s\n", qPrintable(m));
    return 0;
}
