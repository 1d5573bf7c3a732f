#pragma once

#include <QString>

namespace varnel {

// Where the program keeps the files it ships beside its code (the pointer, the drag icon,
// the spreadsheet backend): the private folder of an installed program, found relative to
// the executable so that any install prefix works, or else the executable's own folder, as
// in a build tree.
QString applicationFolder();
// The same for a program in `executableFolder`, for use before Qt knows where it runs.
QString applicationFolderBeside(const QString& executableFolder);

} // namespace varnel
