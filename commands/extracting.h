#pragma once

namespace varnel {

class WindowState;

// "Start Extracting Lines": lists every input line that sorts after the line below it.
void extractOutOfOrderLines(WindowState& state);

} // namespace varnel
