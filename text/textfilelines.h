#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include "linespan.h"

#include <vector>

namespace varnel {

// The two choices of the text-file dialogs, the first selected when a dialog opens.
QStringList textFileFilters();

// Decodes the bytes of a whole text file. A UTF-16 byte-order mark (either order) makes it
// UTF-16; a UTF-8 mark makes it UTF-8; otherwise it is UTF-8 when every byte sequence is
// valid UTF-8 and Windows-1252 when not. A mark never becomes part of the text.
QString decodeTextFile(QByteArrayView bytes);

// Windows-1252; its five unassigned bytes stand for the C1 controls of the same value.
QString decodeWindows1252(QByteArrayView bytes);

// The line rule. A line ends at CR LF, at a CR alone or at a LF alone, and every piece
// between two breaks is a line, empty or not; the text after the last break is a line only
// when it is not empty, so a final break of any kind ends the last line rather than
// starting an empty one ("a\n" and "a\r\n" are one line, "\n" is one empty line).
struct LineBreak {
    qsizetype at;     // where the break starts; the text's size when there is none
    qsizetype length; // 2 for CR LF, 1 for a CR or LF alone, 0 for none
};
// The first break at or after `from`. A reader that sees the text in pieces must not take a
// CR that ends its piece as a break of length 1 before it knows the next character.
LineBreak findLineBreak(QStringView text, qsizetype from);

// The lines of a text, by the rule above.
std::vector<LineSpan> splitTextLineSpans(QStringView text);
QStringList splitTextLines(QStringView text);

// The lines of a text file's bytes: decoded as above, then split.
QStringList textFileLines(QByteArrayView bytes);

// A text file as the list takes it: the decoded text whole, and where each line lies in it.
// The text is held one byte a character (Latin-1) when every character is below U+0100.
struct TextFile {
    QString text;
    QByteArray latin1; // the text instead, when isLatin1
    bool isLatin1 = false;
    std::vector<LineSpan> lines;
};

// Reads the plain file at `path`. Throws Failure when it cannot be opened or read, when it
// is not a plain file (a folder, a device or a pipe, which could block or never end), and
// "Out of memory" before reading (or before finding the lines) when that would take more
// than `memoryBudget` bytes; a negative budget asks the system.
TextFile readTextFile(const QString& path, qint64 memoryBudget = -1);
QStringList readTextFileLines(const QString& path, qint64 memoryBudget = -1);

} // namespace varnel
