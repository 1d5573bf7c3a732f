#include "saving.h"

#include "commandsummaries.h"
#include "core/commandprogress.h"
#include "core/errorreport.h"
#include "core/eventpump.h"
#include "core/guard.h"
#include "core/userinterface.h"
#include "files/fileexists.h"
#include "files/filemetadata.h"
#include "files/filesystem.h"
#include "output/textfilewriter.h"
#include "textfilefilters.h"
#include "windowstate.h"

#include <optional>

namespace varnel {

void saveResultsAsText(WindowState& state) {
    GuardedOperation g(state.ui(), locations::saveResultsAsText);
    // What is saved is the results as they are now: commands run during the yields change
    // the list, not this save.
    const ListSnapshot results = state.results().snapshot();

    FileDialogRequest request;
    request.title = QStringLiteral("Save");
    request.filters = textFileFilters();
    const QString path = state.ui().saveFileName(request);
    state.pump().checkAlive();
    if (path.isEmpty())
        return;
    // Without a clear Yes the old file is never touched, nor when it changes after the Yes.
    // By the name's own bytes, the same for every look at the file and for the write.
    const QByteArray name = encodeFileName(path);
    std::optional<FileIdentity> asked;
    if (fileExists(name)) {
        asked = identityOf(name.constData());
        const bool overwrite = state.ui().askYesNo(
            QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?"),
            state.applicationTitle());
        state.pump().checkAlive();
        if (!overwrite)
            return;
    }
    state.setPointer(Pointer::Hourglass);
    TextFileWriter file;
    g.step(130, [&] { file.open(name, asked); });
    // A file that could not be made gets no writes: each would only repeat the report.
    if (file.isOpen()) {
        const qsizetype n = results.count();
        CommandProgress& progress = state.progress();
        progress.start(CommandProgress::Place::Results, summaries::saving(n), n);
        bool complete = true;
        std::optional<qsizetype> cancelledAt;
        for (qsizetype i = 1; i <= n && complete; ++i) {
            state.pump().yield();
            progress.setDone(i - 1);
            // A cancelled save writes nothing in the end: the old file stays as it was.
            if (progress.cancelRequested()) {
                cancelledAt = i;
                complete = false;
                break;
            }
            const int failuresBefore = g.failureCount();
            g.step(136, [&] { file.writeLine(results.textView(i)); });
            // A failed write ends the save with one report; the old file stays as it was.
            complete = g.failureCount() == failuresBefore;
        }
        const int failuresBefore = g.failureCount();
        g.step(140, [&] { file.finish(complete); });
        if (cancelledAt)
            progress.finish(summaries::saveCancelledAt(*cancelledAt, n));
        else if (complete && g.failureCount() == failuresBefore)
            progress.finish(summaries::saved(n));
        else
            progress.clear(); // its report said what went wrong
    }
    state.setPointer(Pointer::Arrow);
}

} // namespace varnel
