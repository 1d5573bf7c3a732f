#pragma once

#include "filesystem.h"

#include <QList>
#include <QStringList>

class QMimeData;

namespace varnel {

class WindowState;

// The local paths a drag carries, in the source's order; empty unless it carries local
// files and nothing else. Names that are not valid UTF-8 keep their bytes.
QStringList droppedFilePaths(const QMimeData& data);

// Drag-over: whether the input list takes the data. Text, list items and web links are
// refused.
bool ListView1_OLEDragOver(const QMimeData& data);

// A drop that arrives while an earlier one still walks its folders waits for it: the
// paths of one drop stay together, instead of landing between another drop's paths and
// breaking the very order the list is checked for.
struct DropQueue {
    bool running = false;
    QList<QStringList> waiting;
};

// Drop: appends each dropped file's path unchanged and, for each dropped folder, the
// paths of the files in it and in every folder below it, level by level. Files whose
// name begins with "~" and hidden regular files are left out. Lets the window process
// events while it works; what it found so far is in the list whenever it does.
void ListView1_OLEDragDrop(WindowState& form, DropQueue& queue, const QStringList& paths,
                           const FileSystem& fs = realFileSystem());

} // namespace varnel
