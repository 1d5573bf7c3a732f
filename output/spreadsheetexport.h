#pragma once

namespace varnel {

class WindowState;

// "Save Results As Excel File": the results in a new, visible spreadsheet document.
void PushButton2_Click(WindowState& form);

} // namespace varnel
