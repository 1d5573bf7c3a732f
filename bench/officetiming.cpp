// Times an export of many results through the automation layer, the way the export
// command drives it, against an office of its own that it ends afterwards.
//
//   varnel_office_timing [--visible] [counts...]     (default counts: 1000 100000)
//
// --visible starts the office with a window (needs a display); otherwise headless.

#include "core/failure.h"
#include "output/officeautomationprovider.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <csignal>
#include <cstdio>

using namespace varnel;

namespace {

// The office was started detached, so once it has ended it may linger unreaped; that is
// ended enough.
bool running(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const int state = line.lastIndexOf(')') + 2;
    return state > 1 && state < line.size() && line[state] != 'Z';
}

void endOffice(qint64 pid) {
    if (pid <= 0)
        return;
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    const QDeadlineTimer deadline(10000);
    while (running(pid) && !deadline.hasExpired())
        QThread::msleep(50);
    if (running(pid))
        ::kill(static_cast<pid_t>(pid), SIGKILL);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    bool visible = false;
    QList<int> counts;
    for (const QString& argument : app.arguments().mid(1)) {
        if (argument == QLatin1String("--visible"))
            visible = true;
        else
            counts << argument.toInt();
    }
    if (counts.isEmpty())
        counts = {1000, 100000};

    QTemporaryDir profile;
    OfficeLaunchOptions options;
    options.headless = !visible;
    options.profileDirectory = profile.path();
    options.pipeName = QStringLiteral("varnel-timing-%1").arg(QCoreApplication::applicationPid());
    OfficeAutomationProvider provider(options);

    int status = 0;
    try {
        QElapsedTimer clock;
        clock.start();
        auto application = provider.createApplication();
        out << "office started and connected in " << clock.elapsed() << " ms" << Qt::endl;

        for (int count : counts) {
            clock.restart();
            auto workbook = application->workbooksAdd();
            auto sheet = workbook->activeSheet();
            const qint64 opened = clock.elapsed();
            sheet->assignCells(1, 1, QStringLiteral("Results"));
            for (int i = 0; i < count; ++i) {
                auto cell = sheet->cells(i + 2, 1);
                cell->setNumberFormat(QStringLiteral("@"));
                cell->setValue(QStringLiteral("%1 result line %2")
                                   .arg(i % 7 == 0 ? "=" : "")
                                   .arg(i, 6, 10, QLatin1Char('0')));
            }
            const qint64 called = clock.elapsed();
            sheet->columns(1)->autofit();
            const qint64 fitted = clock.elapsed();
            application->setVisible(true);
            const qint64 shown = clock.elapsed();
            out << count << " results: document " << opened << " ms, calls " << called - opened
                << " ms, written and fitted " << fitted - called << " ms, visible "
                << shown - fitted << " ms, total " << shown << " ms" << Qt::endl;
        }
    } catch (const Failure& failure) {
        out << "failed: " << failure.number() << " " << failure.description() << Qt::endl;
        status = 1;
    }
    endOffice(provider.officeProcessId());
    return status;
}
