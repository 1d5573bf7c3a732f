#pragma once

#include <QString>

namespace varnel {

class WindowState;
class LineListModel;

// "Load Text From File": appends every line of each picked file to the input list.
void loadTextFiles(WindowState& state);

// Appends the lines of the file at `path` to `list` in one batch, or says "File not found".
// A file that cannot be read whole adds nothing and throws the Failure that stopped it.
void addLinesFromFile(WindowState& state, LineListModel& list, const QString& path);

} // namespace varnel
