#include "clipboardcopy.h"

#include "clipboardtext.h"

#include "app/errorreport.h"
#include "app/guard.h"
#include "app/userinterface.h"
#include "app/windowstate.h"
#include "lists/linelist.h"

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

void ClipboardClearRetry(UserInterface& ui) {
    retried([&ui] { ui.clearClipboard(); });
}

bool ClipboardSetTextRetry(UserInterface& ui, const QString& text, int format) {
    if (format != 0)
        return false;
    return retried([&] { ui.setClipboardText(text); });
}

void CopyListToClipboard(WindowState& form, const ColumnTable& list) {
    if (list.itemCount() == 0)
        return;
    EventPump& pump = form.pump();
    const QString text = clipboardText(list, [&pump] { pump.yield(); });
    ClipboardClearRetry(form.ui());
    ClipboardSetTextRetry(form.ui(), text, 0);
}

void PushButton8_Click(WindowState& form) {
    GuardedOperation g(form.ui(), locations::PushButton8);
    g.step(106, [&] { CopyListToClipboard(form, form.results()); });
    g.step(108, [&] {
        form.inform(QStringLiteral("Results have been copied to the clipboard.\r\rClick a text "
                                   "area where you normally type and press Ctrl+V to paste the "
                                   "clipboard."));
    });
}

} // namespace varnel
