#pragma once

#include <QtGlobal>

#include <optional>

namespace varnel {

class WindowState;

// Alt+Up (`step` -1) and Alt+Down (+1): the selected input line trades places with its
// neighbour, as carrying it there with the mouse does, so results follow it. Returns where
// the line is then; none when it does not move (no selection, an end of the list, an equal
// neighbour, the hourglass).
std::optional<qsizetype> moveSelectedLine(WindowState& state, std::optional<qsizetype> selected,
                                          int step);

// Ctrl+V: each line of the clipboard's text becomes an item at the end of the input list,
// the text cut into lines as "Load Text From File" cuts a file. Returns the position of the
// last item added; none when nothing was added.
std::optional<qsizetype> pasteLines(WindowState& state);

} // namespace varnel
