#include "undoing.h"

#include "windowstate.h"

namespace varnel {

namespace {

bool listsAreFree(WindowState& state, bool walkingFolders) {
    return !walkingFolders && !state.busy() && !state.showsHourglass() &&
           !state.pump().isRunningAside();
}

} // namespace

bool undoEdit(WindowState& state, bool walkingFolders) {
    return listsAreFree(state, walkingFolders) && state.history().undo();
}

bool redoEdit(WindowState& state, bool walkingFolders) {
    return listsAreFree(state, walkingFolders) && state.history().redo();
}

} // namespace varnel
