#pragma once

namespace varnel {

class WindowState;

// "Show Correct Order": fills the results list, in sorted mode, with the input lines.
void showCorrectOrder(WindowState& state);

} // namespace varnel
