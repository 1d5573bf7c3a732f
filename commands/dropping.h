#pragma once

#include "files/filesystem.h"

#include <QList>
#include <QStringList>

namespace varnel {

class WindowState;

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
void addDroppedPaths(WindowState& state, DropQueue& queue, const QStringList& paths,
                     const FileSystem& fs = realFileSystem());

} // namespace varnel
