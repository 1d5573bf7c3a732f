#pragma once

namespace varnel {

class WindowState;

// "Save Results As Text File": writes each result followed by CR LF.
void PushButton6_Click(WindowState& form);

} // namespace varnel
