#include "copying.h"

#include "output/clipboardtext.h"

#include "commandsummaries.h"
#include "core/commandprogress.h"
#include "core/errorreport.h"
#include "core/eventpump.h"
#include "core/failure.h"
#include "core/guard.h"
#include "core/userinterface.h"
#include "lists/columntable.h"
#include "lists/linelistmodel.h"
#include "lists/listsnapshot.h"
#include "windowstate.h"

namespace varnel {

namespace {

constexpr int ClipboardAttempts = 1000;

template <typename Operation> bool retried(Operation&& operation) {
    for (int attempt = 1;; ++attempt) {
        try {
            operation();
            return true;
        } catch (const ProgramEnding&) {
            throw;
        } catch (...) {
            if (attempt >= ClipboardAttempts)
                return false;
        }
    }
}

} // namespace

void clearClipboardWithRetry(UserInterface& ui) {
    retried([&ui] { ui.clearClipboard(); });
}

bool setClipboardTextWithRetry(UserInterface& ui, const ClipboardText& text) {
    return retried([&] {
        if (text.isUtf8)
            ui.setClipboardUtf8(text.utf8);
        else
            ui.setClipboardText(text.text);
    });
}

void copyTableToClipboard(WindowState& state, const ColumnTable& list) {
    CommandProgress& progress = state.progress();
    const qsizetype items = list.itemCount();
    if (items == 0) {
        progress.clear();
        return;
    }
    // The text is made in two passes over the cells, each asking to yield once a cell, and
    // once a line more in the second; the count of asks is how far it is.
    progress.start(CommandProgress::Place::Results, summaries::copying(items),
                   2 * qint64(list.columnCount()) * items, CommandProgress::Cancel::NotAllowed);
    EventPump& pump = state.pump();
    qint64 asks = 0;
    const auto cell = [&list](qsizetype item, qsizetype column) { return list.cell(item, column); };
    const ClipboardText text = clipboardText(items, list.columnCount(), cell, [&] {
        progress.setDone(++asks);
        pump.yield();
    });
    clearClipboardWithRetry(state.ui());
    const bool copied = setClipboardTextWithRetry(state.ui(), text);
    if (copied)
        progress.finish(summaries::copied(items));
    else
        progress.clear();
}

void copyResultsToClipboard(WindowState& state) {
    GuardedOperation g(state.ui(), locations::copyResultsToClipboard);
    // The results as they are now: the copy yields, and what other commands do to the list
    // meanwhile does not reach the clipboard.
    const ListSnapshot results = state.results().snapshot();
    g.step(106, [&] { copyTableToClipboard(state, results); });
    g.step(108, [&] {
        state.inform(QStringLiteral("Results have been copied to the clipboard.\r\rClick a text "
                                    "area where you normally type and press Ctrl+V to paste the "
                                    "clipboard."));
    });
}

} // namespace varnel
