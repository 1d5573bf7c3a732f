#pragma once

#include "linespan.h"
#include "textdecoding.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace varnel {

// A text file as the list takes it: the decoded text whole, and where each line lies in it
// (text/linebreaks.h). The text is held one byte a character (Latin-1) when every character
// is below U+0100.
struct TextFile {
    QString text;
    QByteArray latin1; // the text instead, when isLatin1
    bool isLatin1 = false;
    std::vector<LineSpan> lines;
};

// Reads the plain file at `path`, decoded by the rules of text/textdecoding.h. Throws Failure
// when it cannot be opened or read, when it is not a plain file (a folder, a device or a
// pipe, which could block or never end), and "Out of memory" before reading (or before
// finding the lines) when that would take more than `memoryBudget` bytes; a negative budget
// asks the system.
TextFile readTextFile(const QString& path, qint64 memoryBudget = -1);

} // namespace varnel
