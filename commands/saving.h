#pragma once

namespace varnel {

class WindowState;

// "Save Results As Text File": writes each result followed by CR LF.
void saveResultsAsText(WindowState& state);

} // namespace varnel
