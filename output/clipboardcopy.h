#pragma once

namespace varnel {

class WindowState;

// "Copy Results To Clipboard": puts the results on the clipboard and says how to paste.
void PushButton8_Click(WindowState& form);

} // namespace varnel
