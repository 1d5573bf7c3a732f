#pragma once

namespace varnel {

class WindowState;

// Takes the last change of either list back (undo) or does it again (redo). Refused,
// returning false, while the hourglass shows, a command is busy extracting or sorting
// aside, or `walkingFolders` (a drop still walks its folders): the lists are theirs then.
bool undoEdit(WindowState& state, bool walkingFolders = false);
bool redoEdit(WindowState& state, bool walkingFolders = false);

} // namespace varnel
