#include "loading.h"

#include "files/cleanpathslashes.h"
#include "files/fileexists.h"
#include "text/textfilelines.h"
#include "textfilefilters.h"

#include "core/errorreport.h"
#include "core/eventpump.h"
#include "core/failure.h"
#include "core/guard.h"
#include "core/userinterface.h"
#include "lists/linelistmodel.h"
#include "windowstate.h"

#include <QDir>

#include <limits>
#include <utility>

namespace varnel {

namespace {
void addPickedFiles(WindowState& state, const QStringList& picked, GuardedOperation& g);
}

void loadTextFiles(WindowState& state) {
    GuardedOperation g(state.ui(), locations::loadTextFiles);
    FileDialogRequest request;
    request.title = QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files");
    request.filters = textFileFilters();
    QStringList picked;
    g.step(108, [&] {
        picked = state.ui().openFileNames(request);
        state.pump().checkAlive();
    });
    if (!picked.isEmpty())
        addPickedFiles(state, picked, g);
}

void loadPickedFiles(WindowState& state, const QStringList& picked) {
    GuardedOperation g(state.ui(), locations::loadTextFiles);
    addPickedFiles(state, picked, g);
}

namespace {

void addPickedFiles(WindowState& state, const QStringList& picked, GuardedOperation& g) {
    state.setPointer(Pointer::Hourglass);
    LineListModel& input = state.input();
    if (picked.size() == 1) {
        g.step(120, [&] { addLinesFromFile(state, input, picked.first()); });
    } else {
        // The dialog gives full paths, in its own order.
        for (const QString& piece : picked) {
            const QString path = cleanPathSlashes(piece, QDir::separator());
            g.step(134, [&] { addLinesFromFile(state, input, path); });
        }
    }
    state.setPointer(Pointer::Default);
}

} // namespace

void addLinesFromFile(WindowState& state, LineListModel& list, const QString& path) {
    if (!fileExists(path)) {
        state.inform(QStringLiteral("File not found"));
        return;
    }
    TextFile file = readTextFile(path);
    // The views count rows in int.
    if (qsizetype(file.lines.size()) > std::numeric_limits<int>::max() - list.count())
        throw Failure(ErrorNumber::Overflow, QStringLiteral("Overflow"));
    // The decoded text becomes the list's own: no copy of any line.
    if (file.isLatin1)
        list.appendLatin1Lines(std::move(file.latin1), file.lines);
    else
        list.appendLines(std::move(file.text), file.lines);
}

} // namespace varnel
