#include "copying.h"

#include "output/clipboardtext.h"

#include "core/errorreport.h"
#include "core/eventpump.h"
#include "core/failure.h"
#include "core/guard.h"
#include "core/userinterface.h"
#include "lists/linelist.h"
#include "lists/linelistmodel.h"
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

bool setClipboardTextWithRetry(UserInterface& ui, const QString& text) {
    return retried([&] { ui.setClipboardText(text); });
}

void copyTableToClipboard(WindowState& state, const ColumnTable& list) {
    if (list.itemCount() == 0)
        return;
    EventPump& pump = state.pump();
    const QString text = clipboardText(list, [&pump] { pump.yield(); });
    clearClipboardWithRetry(state.ui());
    setClipboardTextWithRetry(state.ui(), text);
}

void copyResultsToClipboard(WindowState& state) {
    GuardedOperation g(state.ui(), locations::copyResultsToClipboard);
    g.step(106, [&] { copyTableToClipboard(state, state.results()); });
    g.step(108, [&] {
        state.inform(QStringLiteral("Results have been copied to the clipboard.\r\rClick a text "
                                    "area where you normally type and press Ctrl+V to paste the "
                                    "clipboard."));
    });
}

} // namespace varnel
