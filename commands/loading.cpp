#include "loading.h"

#include "files/cleanpathslashes.h"
#include "files/fileexists.h"
#include "text/textfilelines.h"
#include "textfilefilters.h"

#include "commandsummaries.h"
#include "core/commandprogress.h"
#include "core/errorreport.h"
#include "core/eventpump.h"
#include "core/failure.h"
#include "core/guard.h"
#include "core/userinterface.h"
#include "lists/linelistmodel.h"
#include "windowstate.h"

#include <QDir>
#include <QFileInfo>

#include <functional>
#include <limits>
#include <optional>
#include <utility>

namespace varnel {

namespace {
constexpr qint64 ReadAsideSize = 1 << 20;
std::function<void(qint64)> readWatcher;
void addPickedFiles(WindowState& state, const QStringList& picked, GuardedOperation& g);
} // namespace

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
    CommandProgress& progress = state.progress();
    const qsizetype linesBefore = input.count();
    const qsizetype files = picked.size();
    // One file's share is not known while it is read: the window names it instead.
    if (files == 1)
        progress.start(CommandProgress::Place::Input,
                       summaries::reading(QFileInfo(picked.first()).fileName()), 0);
    else
        progress.start(CommandProgress::Place::Input, summaries::loading(files), files);
    std::optional<qsizetype> cancelledAt;
    try {
        if (files == 1) {
            g.step(120, [&] { addLinesFromFile(state, input, picked.first()); });
        } else {
            // The dialog gives full paths, in its own order.
            for (qsizetype k = 0; k < files; ++k) {
                const QString path = cleanPathSlashes(picked.at(k), QDir::separator());
                progress.setDone(k);
                if (progress.cancelRequested())
                    throw CommandCancelled{};
                g.step(134, [&] { addLinesFromFile(state, input, path); });
            }
        }
    } catch (const CommandCancelled&) {
        cancelledAt = progress.done() + 1;
    }
    state.setPointer(Pointer::Default);
    const qsizetype added = input.count() - linesBefore;
    if (cancelledAt)
        progress.finish(summaries::loadCancelledAt(*cancelledAt, files, added));
    else
        progress.finish(summaries::loaded(added, files));
}

} // namespace

void addLinesFromFile(WindowState& state, LineListModel& list, const QString& path) {
    std::optional<OpenTextFile> opened;
    try {
        opened.emplace(path);
    } catch (const Failure&) {
        // Only a file that is not there at all is told so; anything else that keeps it
        // from being read is the failure's to tell.
        if (fileExists(path))
            throw;
        state.inform(QStringLiteral("File not found"));
        return;
    }
    // A large file is read on a thread of its own, so the window paints and Escape is heard
    // meanwhile, and stops the read within a few MiB; a file read once the load was
    // cancelled adds nothing.
    TextFile file;
    if (opened->size() >= ReadAsideSize) {
        ReadStops stops;
        stops.stop = &state.pump().stopRequested();
        stops.reached = readWatcher;
        state.pump().runAside([&] { file = readTextFile(*opened, -1, stops); });
    } else {
        file = readTextFile(*opened);
    }
    if (state.progress().cancelRequested())
        throw CommandCancelled{};
    // The views count rows in int.
    if (qsizetype(file.lines.size()) > std::numeric_limits<int>::max() - list.count())
        throw Failure(ErrorNumber::Overflow, QStringLiteral("Overflow"));
    // The decoded text becomes the list's own: no copy of any line.
    if (file.isLatin1)
        list.appendLatin1Lines(std::move(file.latin1), std::move(file.lines));
    else
        list.appendLines(std::move(file.text), std::move(file.lines));
}

void setFileReadWatcher(std::function<void(qint64)> watcher) {
    readWatcher = std::move(watcher);
}

} // namespace varnel
