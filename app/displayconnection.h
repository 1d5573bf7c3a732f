#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace varnel {

// Whether the window can reach its desktop, asked before QApplication exists: Qt ends the
// program when it cannot connect, with lines about platform plugins and reinstalling.
struct DisplayChoice {
    // The one line to print when no display can be reached; empty when the window can start,
    // or when Qt's platform is one this cannot judge (the offscreen one of the tests).
    QString problem;
    // Where only one of the two Qt may choose between answers, that one ("xcb", "wayland"),
    // so Qt does not pick the other; empty to leave the choice to Qt.
    QByteArray platform;
};

// For the window's program started with `arguments` (its own name first), in this
// environment.
DisplayChoice chooseDisplay(const QStringList& arguments);

} // namespace varnel
