#pragma once

#include "output/clipboardtext.h"

#include <QString>

namespace varnel {

class WindowState;
class ColumnTable;
class UserInterface;

// "Copy Results To Clipboard": puts the results on the clipboard and says how to paste.
void copyResultsToClipboard(WindowState& state);

// Replaces the clipboard with the aligned text of `list`; leaves it alone for an empty list.
// It yields: `list` must not change meanwhile (a ListSnapshot does not).
void copyTableToClipboard(WindowState& state, const ColumnTable& list);

// Another program may hold the clipboard for a moment, so each operation is tried up to
// 1000 times, at once, and a failure is never passed on.
void clearClipboardWithRetry(UserInterface& ui);
// True when the last attempt succeeded.
bool setClipboardTextWithRetry(UserInterface& ui, const ClipboardText& text);

} // namespace varnel
