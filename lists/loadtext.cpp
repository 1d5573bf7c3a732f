#include "loadtext.h"

#include "cleanpathslashes.h"
#include "fileexists.h"
#include "textfilelines.h"

#include "app/errorreport.h"
#include "app/guard.h"
#include "app/userinterface.h"
#include "app/windowstate.h"

#include <QDir>

#include <limits>

namespace varnel {

void PushButton4_Click(WindowState& form) {
    GuardedOperation g(form.ui(), locations::PushButton4);
    FileDialogRequest request;
    g.step(104, [&] {
        request.title = QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files");
    });
    g.step(106, [&] { request.filters = textFileFilters(); });
    QStringList picked;
    g.step(108, [&] {
        picked = form.ui().openFileNames(request);
        form.pump().checkAlive();
    });
    bool cancelled = false;
    g.step(110, [&] { cancelled = picked.isEmpty(); });
    if (cancelled)
        return;
    g.step(114, [&] { form.setPointer(Pointer::Hourglass); });
    LineListModel& input = form.input();
    if (picked.size() == 1) {
        QString path;
        g.step(118, [&] { path = picked.first(); });
        g.step(120, [&] { AddLinesFromFile(form, input, path); });
    } else {
        // The dialog gives full paths, in its own order.
        for (const QString& piece : std::as_const(picked)) {
            QString path;
            g.step(130, [&] { path = piece; });
            g.step(132, [&] { path = CleanPathSlashes(path, QDir::separator()); });
            g.step(134, [&] { AddLinesFromFile(form, input, path); });
        }
    }
    g.step(138, [&] { form.setPointer(Pointer::Default); });
}

void AddLinesFromFile(WindowState& form, LineListModel& list, const QString& path) {
    if (!FileExists(path)) {
        form.inform(QStringLiteral("File not found"));
        return;
    }
    TextFile file = readTextFile(path);
    // The views count rows in int.
    if (qsizetype(file.lines.size()) > std::numeric_limits<int>::max() - list.count())
        throw Failure(ErrorNumber::Overflow, QStringLiteral("Overflow"));
    // The decoded text becomes the list's own: no copy of any line.
    list.appendLines(std::move(file.text), file.lines);
}

} // namespace varnel
