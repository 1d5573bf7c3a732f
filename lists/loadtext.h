#pragma once

#include <QString>

namespace varnel {

class WindowState;
class LineList;

// "Load Text From File": appends every line of each picked file to the input list.
void PushButton4_Click(WindowState& form);

// Appends the lines of the file at `path` to `list`, or says "File not found".
void AddLinesFromFile(WindowState& form, LineList& list, const QString& path);

} // namespace varnel
