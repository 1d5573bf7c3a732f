#pragma once

#include "files/folderlisting.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace varnel {

class WindowState;

// Extends `folders` (paths ending in "/") with every folder below them, level by level:
// first their sub-folders, then the sub-folders of those, each level in list order.
// Folders that cannot be listed are removed; linked folders are neither listed nor kept.
// A guarded operation: unexpected failures are reported, and it goes on.
void addSubfolders(WindowState& state, QStringList& folders, bool recurse,
                   const FileSystem& fs = realFileSystem());

} // namespace varnel
