#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace varnel {

class WindowState;
class LineListModel;

// "Load Text From File": appends every line of each picked file to the input list.
void loadTextFiles(WindowState& state);

// The same command from the point where the files are picked: the command line hands the
// window its files this way, with the same messages and reports.
void loadPickedFiles(WindowState& state, const QStringList& picked);

// Appends the lines of the file at `path` to `list` in one batch, or says "File not found".
// A file that cannot be read whole adds nothing and throws the Failure that stopped it.
void addLinesFromFile(WindowState& state, LineListModel& list, const QString& path);

// For tests: `watcher` is told, on the thread that reads, the bytes read so far at each
// point where the read of a large file may stop.
void setFileReadWatcher(std::function<void(qint64)> watcher);

} // namespace varnel
