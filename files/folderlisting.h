#pragma once

#include "filesystem.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace varnel {

// True when the path is a folder, through links too; false when it cannot be told.
bool isFolderPath(const QString& path, const FileSystem& fs = realFileSystem());

// A name the walk will not go into: a control character, a character from 127 to 159,
// a "?", or a byte that was not valid UTF-8. Letters beyond ASCII are fine.
bool hasUnsafeCharacters(QStringView name);

// The entry opens without reading it and is not a folder. Never blocks, never fails.
bool isOpenableFile(const QString& path, const FileSystem& fs = realFileSystem());

// The files of one folder that open, in list order, each with the attribute value the
// listing saw. Throws when the folder cannot be listed.
ListedFiles listFolderFiles(const QString& folder, const FileSystem& fs = realFileSystem());

// The files of a listing that open, in list order.
ListedFiles inListOrder(ListedFiles files);
// Puts the files in list order, the order comesBeforeInList gives their names.
void sortInListOrder(ListedFiles& files);

// The order names come in: lower-cased UTF-16 code units, the order the lists are checked
// in, so a tree whose names are in order adds its paths in order.
bool comesBeforeInList(const QString& first, const QString& second);

} // namespace varnel
