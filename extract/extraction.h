#pragma once

namespace varnel {

class WindowState;

// "Start Extracting Lines": lists every input line that sorts after the line below it.
void PushButton7_Click(WindowState& form);

} // namespace varnel
