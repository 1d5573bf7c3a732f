#pragma once

#include "files/filereplacement.h"
#include "order/linetext.h"

#include <QByteArray>
#include <QString>
#include <QStringEncoder>
#include <QStringView>

#include <optional>

namespace varnel {

// Writes a text file as UTF-8 lines ending in CR LF, through a FileReplacement: an old file
// is either left as it was or replaced by the whole text. A named pipe or a socket is
// refused before anything is opened: opening a pipe would wait for a reader forever.
// Failures carry the system's error number, mapped by failures::fromErrno; a name that is no
// file to write (a folder, a pipe) reads "Path/File access error", a missing folder "Path not
// found".
class TextFileWriter {
public:
    TextFileWriter();

    // Opens the file `name` (its bytes, as encodeFileName gives them). With `asked`, the file
    // as it was when the user agreed to overwrite it: should another program change it
    // before the save is complete, finish() leaves it as that program did and throws a
    // Failure saying so.
    void open(const QByteArray& name, const std::optional<FileIdentity>& asked = std::nullopt);
    bool isOpen() const { return m_file.isOpen(); }

    void writeLine(LineText text);

    // Puts what was written in place when `complete`; otherwise an old file stays as it was.
    void finish(bool complete);

private:
    void writeWideLine(QStringView text);
    void flush();

    FileReplacement m_file;
    QByteArray m_buffer;
    QStringEncoder m_encoder{QStringConverter::Utf8, QStringConverter::Flag::Stateless};
};

} // namespace varnel
