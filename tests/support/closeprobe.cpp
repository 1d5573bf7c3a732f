// A child process for the program-end tests: the real window with scripted answers, a long
// list, one command started, and the window closed from inside that command's yields.
// Usage: varnel_close_probe COMMAND FOLDER
//   COMMAND: extract, save, copy, order or drop. FOLDER holds the files the command works on.

#include "app/linelistview.h"
#include "app/mainwindow.h"
#include "support/commandform.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString command = QString::fromLocal8Bit(argv[1]);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    varnel::testing::ScriptedUserInterface ui;
    ui.saveAnswers = {folder + QStringLiteral("/saved.txt")};
    varnel::MainWindow window(&ui, folder);
    window.state().pump().setInterval(std::chrono::microseconds(0));
    window.show();

    QStringList lines;
    for (int i = 0; i < 300000; ++i)
        lines.append(QString::number(300000 - i));
    window.state().input().appendBatch(lines);
    window.state().results().appendBatch(lines);

    // The third turn of the event loop inside the command closes the window.
    std::unique_ptr<QTimer> closer;
    QTimer::singleShot(0, &window, [&] {
        closer = varnel::testing::onTurn(3, [&] { window.close(); });
        if (command == QStringLiteral("drop")) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(folder + QStringLiteral("/tree"))});
            QWidget* target = window.inputView()->viewport();
            QDropEvent drop(target->rect().center(), Qt::CopyAction, &data, Qt::LeftButton,
                            Qt::NoModifier);
            QApplication::sendEvent(target, &drop);
            // The window takes a drop in on its next turn; the walk runs here, under the
            // closing timer.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        } else {
            const char* button = command == QStringLiteral("extract") ? "PushButton7"
                                 : command == QStringLiteral("save")  ? "PushButton6"
                                 : command == QStringLiteral("order") ? "PushButton5"
                                                                      : "PushButton8";
            window.button(button)->click();
        }
        // Anything the command showed after the close would be a step run too many.
        for (const auto& m : ui.messages)
            std::printf("message: %s\n", qPrintable(m.text));
        std::fflush(stdout);
    });
    const int status = QApplication::exec();
    std::printf("results: %lld\n", static_cast<long long>(window.state().results().count()));
    return status;
}
