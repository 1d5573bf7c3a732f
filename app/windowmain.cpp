// The window's own program, started by varnel for everything but its commands: the
// commands start without loading a single window library.

#include "mainwindow.h"
#include "cli/commandline.h"
#include "core/memorypolicy.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

bool haveDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char** argv) {
    varnel::cli::holdClosedStandardStreams();
    const varnel::cli::Invocation call =
        varnel::cli::parseCommandLine(varnel::cli::argumentsOf(argc, argv));
    if (call.action != varnel::cli::Invocation::Action::OpenWindow) {
        QCoreApplication app(argc, argv);
        return varnel::cli::runCommandLine(call);
    }
    if (!haveDisplay()) {
        std::fputs("Varnel needs a desktop: no display found (DISPLAY or WAYLAND_DISPLAY is not "
                   "set).\n",
                   stderr);
        return 2;
    }
    varnel::returnLargeBuffersToTheSystem();
    QApplication app(argc, argv);
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
