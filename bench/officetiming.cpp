// Times an export of many results through the automation layer, the way the export
// command drives it, against an office of its own that it ends afterwards.
//
//   varnel_office_timing [--visible] [counts...]     (default counts: 1000 100000)
//   varnel_office_timing [--visible] --csv LINES-FILE
//
// --visible starts the office with a window (needs a display); otherwise headless.
// --csv times what the export is measured against: the office, started the same way, opening
// the lines of LINES-FILE (UTF-8, one result a line) under a "Results" heading as a CSV file
// whose column is text; it prints "csv_open_s SECONDS", from the start to the shown document.

#include "core/failure.h"
#include "output/officeautomationprovider.h"
#if VARNEL_OFFICE_SDK
#include "output/uno/officelaunch.h"

#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>

namespace css = com::sun::star;
#endif

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTextStream>
#include <QThread>
#include <QUrl>

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

#if VARNEL_OFFICE_SDK
// The office started as the export starts it, opening the file as a user would with the
// import settings that keep every line as its text.
int timeCsvOpen(const QString& linesPath, OfficeLaunchOptions options, QTextStream& out) {
    QFile lines(linesPath);
    if (!lines.open(QIODevice::ReadOnly)) {
        out << "cannot read " << linesPath << Qt::endl;
        return 1;
    }
    // Every field quoted, '"' doubled: each line reads back as the exact text it holds.
    QTemporaryFile csv(QDir::temp().filePath(QStringLiteral("varnel-timing-XXXXXX.csv")));
    if (!csv.open()) {
        out << "cannot write " << csv.fileName() << Qt::endl;
        return 1;
    }
    QByteArray text = "\"Results\"\n";
    while (!lines.atEnd()) {
        QByteArray line = lines.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        if (!line.isEmpty())
            text += '"' + line.replace('"', "\"\"") + '"';
        text += '\n';
    }
    if (csv.write(text) != text.size() || !csv.flush()) {
        out << "cannot write " << csv.fileName() << Qt::endl;
        return 1;
    }
    const QString url = QUrl::fromLocalFile(csv.fileName()).toString(QUrl::FullyEncoded);

    qint64 pid = 0;
    int status = 0;
    try {
        QElapsedTimer clock;
        clock.start();
        const QString program = office::officeProgram(options);
        uno::localContext();
        pid = office::startOffice(program, options, options.pipeName);
        const auto desktop =
            css::frame::Desktop::create(office::connectWithin(options.pipeName, options));
        const css::beans::PropertyValue arguments[] = {
            // Comma, '"', UTF-8, from line 1, column 1 as text.
            office::property("FilterName",
                             css::uno::Any(rtl::OUString("Text - txt - csv (StarCalc)"))),
            office::property("FilterOptions", css::uno::Any(rtl::OUString("44,34,76,1,1/2"))),
        };
        css::uno::Reference<css::frame::XComponentLoader>(desktop, css::uno::UNO_QUERY_THROW)
            ->loadComponentFromURL(uno::toOUString(url), "_blank", 0,
                                   css::uno::Sequence<css::beans::PropertyValue>(arguments, 2));
        out << "csv_open_s " << QString::number(double(clock.nsecsElapsed()) / 1e9, 'f', 4)
            << Qt::endl;
    } catch (const css::uno::Exception& e) {
        out << "failed: " << uno::toQString(e.Message) << Qt::endl;
        status = 1;
    } catch (const Failure& failure) {
        out << "failed: " << failure.description() << Qt::endl;
        status = 1;
    }
    endOffice(pid);
    return status;
}
#endif

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    bool visible = false;
    QString csvLines;
    QList<int> counts;
    const QStringList arguments = app.arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--visible"))
            visible = true;
        else if (arguments[i] == QLatin1String("--csv") && i + 1 < arguments.size())
            csvLines = arguments[++i];
        else
            counts << arguments[i].toInt();
    }
    if (counts.isEmpty())
        counts = {1000, 100000};

    QTemporaryDir profile;
    OfficeLaunchOptions options;
    options.headless = !visible;
    options.profileDirectory = profile.path();
    options.pipeName = QStringLiteral("varnel-timing-%1").arg(QCoreApplication::applicationPid());
    if (!csvLines.isEmpty()) {
#if VARNEL_OFFICE_SDK
        return timeCsvOpen(csvLines, options, out);
#else
        out << "built without the LibreOffice SDK" << Qt::endl;
        return 1;
#endif
    }
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
