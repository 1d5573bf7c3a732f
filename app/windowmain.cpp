// The window's own program, started by varnel for everything but its commands: the
// commands start without loading a single window library.

#include "cli/commandline.h"
#include "core/memorypolicy.h"
#include "displayconnection.h"
#include "mainwindow.h"
#include "privatesettings.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    varnel::cli::holdClosedStandardStreams();
    const varnel::cli::Invocation call =
        varnel::cli::parseCommandLine(varnel::cli::argumentsOf(argc, argv));
    if (call.action != varnel::cli::Invocation::Action::OpenWindow) {
        QCoreApplication app(argc, argv);
        return varnel::cli::runCommandLine(call);
    }
    const varnel::DisplayChoice display =
        varnel::chooseDisplay(varnel::cli::argumentsOf(argc, argv));
    if (!display.problem.isEmpty()) {
        std::fputs(qPrintable(display.problem + u'\n'), stderr);
        return 2;
    }
    varnel::returnLargeBuffersToTheSystem();
    const varnel::PrivateSettingsFolder settings;
    // Asked of this program only: what it starts (LibreOffice) chooses for itself.
    if (!display.platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", display.platform);
    QApplication app(argc, argv);
    if (!display.platform.isEmpty())
        qunsetenv("QT_QPA_PLATFORM");
    QApplication::setApplicationName(QStringLiteral("Varnel"));
    // Lets a Wayland desktop match the window with its menu entry and icon.
    QApplication::setDesktopFileName(QStringLiteral("app.varnel.Varnel"));
    varnel::MainWindow window;
    window.show();
    // Once the window is on screen, so a long load shows its hourglass there.
    if (!call.files.isEmpty())
        QTimer::singleShot(0, &window, [&] { window.loadFiles(call.files); });
    return QApplication::exec();
}
