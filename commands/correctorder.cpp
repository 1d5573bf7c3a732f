#include "correctorder.h"

#include "core/errorreport.h"
#include "core/guard.h"
#include "lists/linelistmodel.h"
#include "windowstate.h"

namespace varnel {

void showCorrectOrder(WindowState& state) {
    GuardedOperation g(state.ui(), locations::showCorrectOrder);
    LineListModel& input = state.input();
    LineListModel& results = state.results();
    g.run([&] { results.clear(); });
    // Ascending by item text is the only order this list knows, so [102] and [104], the
    // direction and the key, are part of switching the mode on.
    g.step(100, [&] { results.setSorted(true); });
    // The lines go in as one batch that shares the input's text: the list sorts the batch
    // once, comparing lines by the collation, instead of placing each line on its own, and
    // is in order the moment it shows anything.
    g.step(106, [&] { results.appendAllFrom(input); });
}

} // namespace varnel
