#include "textfilewriter.h"

#include "core/failure.h"
#include "files/filesystem.h"
#include "lineencoding.h"

#include <cerrno>

namespace varnel {

namespace {

// Lines are gathered into writes of about this size.
constexpr qsizetype WriteSize = 64 * 1024;

// How a failure to save reads in the window's error report.
Failure describe(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        // A name that cannot be created because a folder on the way is missing names no file.
        return failures::pathNotFound();
    case EISDIR:
    case ESPIPE:
        return {ErrorNumber::PathFileAccessError, QStringLiteral("Path/File access error")};
    default:
        return failures::fromErrno(error);
    }
}

} // namespace

TextFileWriter::TextFileWriter()
    : m_file(describe) {}

void TextFileWriter::open(const QByteArray& name, const std::optional<FileIdentity>& asked) {
    m_file.open(name, FileReplacement::Streams::Refused);
    if (asked)
        m_file.expectUnchanged(*asked, {ErrorNumber::PathFileAccessError,
                                        QStringLiteral("File changed by another program after "
                                                       "you chose to overwrite it; it was left "
                                                       "as that program left it")});
    m_buffer.reserve(WriteSize * 2);
}

void TextFileWriter::writeLine(LineText line) {
    if (line.isWide()) {
        writeWideLine(line.wide());
        return;
    }
    const qsizetype used = m_buffer.size();
    m_buffer.resize(used + 2 * line.size() + 2);
    char* end = encodeLatin1AsUtf8(line.narrow(), m_buffer.data() + used);
    *end++ = '\r';
    *end++ = '\n';
    m_buffer.truncate(end - m_buffer.constData());
    if (m_buffer.size() >= WriteSize)
        flush();
}

void TextFileWriter::writeWideLine(QStringView text) {
    // A path whose name was not valid UTF-8 keeps its bytes in the list; they are written
    // back as those bytes, so the saved line still names the file.
    if (hasEscapedByte(text)) {
        m_buffer += encodeFileName(text);
        m_buffer += "\r\n";
        if (m_buffer.size() >= WriteSize)
            flush();
        return;
    }
    const qsizetype used = m_buffer.size();
    m_buffer.resize(used + m_encoder.requiredSpace(text.size()) + 2);
    char* end = m_encoder.appendToBuffer(m_buffer.data() + used, text);
    *end++ = '\r';
    *end++ = '\n';
    m_buffer.truncate(end - m_buffer.constData());
    if (m_buffer.size() >= WriteSize)
        flush();
}

void TextFileWriter::flush() {
    m_file.write(m_buffer);
    m_buffer.clear();
}

void TextFileWriter::finish(bool complete) {
    if (!complete) {
        m_file.discard();
        return;
    }
    flush();
    m_file.commit();
}

} // namespace varnel
