#include "app/mainwindow.h"
#include "core/memorypolicy.h"

#include <QApplication>

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
    if (!haveDisplay()) {
        std::fputs("Varnel needs a desktop: no display found (DISPLAY or WAYLAND_DISPLAY is not "
                   "set).\n",
                   stderr);
        return 1;
    }
    varnel::returnLargeBuffersToTheSystem();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnel"));
    // Lets a Wayland desktop match the window with its menu entry and icon.
    QApplication::setDesktopFileName(QStringLiteral("app.varnel.Varnel"));
    varnel::MainWindow window;
    window.show();
    return QApplication::exec();
}
