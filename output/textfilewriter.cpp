#include "textfilewriter.h"

#include "core/failure.h"
#include "files/filebeside.h"
#include "files/filesystem.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace varnel {

namespace {

// Lines are gathered into writes of about this size.
constexpr qsizetype WriteSize = 64 * 1024;
// Written text is handed to the disk each time this much more is waiting, so the wait for
// it all before the file takes the old one's place stays short.
constexpr qint64 WritebackSize = 4 * 1024 * 1024;

Failure notAFile() {
    return {ErrorNumber::PathFileAccessError, QStringLiteral("Path/File access error")};
}

// A name that cannot be created because a folder on the way is missing names no file.
Failure cannotCreate(int error) {
    if (error == ENOENT || error == ENOTDIR)
        return failures::pathNotFound();
    return failures::fromErrno(error);
}

} // namespace

TextFileWriter::~TextFileWriter() {
    discard();
}

void TextFileWriter::open(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat status;
    if (::stat(name.constData(), &status) != 0) {
        if (errno != ENOENT)
            throw cannotCreate(errno);
        openBeside(name, nullptr);
        return;
    }
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) {
        openDevice(name);
        return;
    }
    if (!S_ISREG(status.st_mode))
        throw notAFile();
    // Nobody's read-only file is replaced, even where the folder would allow it.
    if (::access(name.constData(), W_OK) != 0)
        throw failures::fromErrno(errno);
    // Through links to the file they name, so a link goes on naming the new file.
    char resolved[PATH_MAX];
    if (!::realpath(name.constData(), resolved))
        throw cannotCreate(errno);
    openBeside(QByteArray(resolved), &status);
}

void TextFileWriter::openDevice(const QByteArray& name) {
    // Without blocking, so that a pipe put there since the check cannot hold the window.
    const int fd = ::open(name.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw failures::fromErrno(errno);
    struct stat status;
    if (::fstat(fd, &status) != 0 || !(S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))) {
        ::close(fd);
        throw notAFile();
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_fd = fd;
}

void TextFileWriter::openBeside(const QByteArray& target, const struct stat* old) {
    const FileBeside file = createFileBeside(target, old != nullptr);
    if (file.fd < 0)
        throw cannotCreate(errno);
    m_fd = file.fd;
    m_target = target;
    m_temporary = file.path;
    if (old)
        m_old = *old;
    m_buffer.reserve(WriteSize * 2);
}

namespace {

// Latin-1 as UTF-8: ASCII as it is, every other byte as two.
char* appendLatin1AsUtf8(char* out, QLatin1StringView text) {
    for (const char byte : text) {
        const auto c = uchar(byte);
        if (c < 0x80) {
            *out++ = char(c);
        } else {
            *out++ = char(0xC0 | (c >> 6));
            *out++ = char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace

void TextFileWriter::writeLine(LineText line) {
    if (line.isWide()) {
        writeWideLine(line.wide());
        return;
    }
    const qsizetype used = m_buffer.size();
    m_buffer.resize(used + 2 * line.size() + 2);
    char* end = appendLatin1AsUtf8(m_buffer.data() + used, line.narrow());
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
    const char* data = m_buffer.constData();
    qsizetype left = m_buffer.size();
    while (left > 0) {
        const ssize_t written = ::write(m_fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        data += written;
        left -= written;
        m_written += written;
    }
    m_buffer.clear();
    if (!m_target.isEmpty() && m_written - m_handedToDisk >= WritebackSize) {
        // Only a request to start: whatever it says, the sync before the rename decides.
        ::sync_file_range(m_fd, m_handedToDisk, m_written - m_handedToDisk, SYNC_FILE_RANGE_WRITE);
        m_handedToDisk = m_written;
    }
}

void TextFileWriter::finish(bool complete) {
    if (!complete) {
        discard();
        return;
    }
    flush();
    if (m_target.isEmpty()) {
        close();
        return;
    }
    // On disk before it takes the old file's place: a crash then leaves one or the other.
    if (::fdatasync(m_fd) != 0)
        fail(errno);
    if (m_old)
        takeOverOwnerAndPermissions(m_fd, *m_old);
    close();
    // The file replaced goes when its last user lets go, and a large one takes a while to
    // free: that user is a thread of its own, not the window's.
    const int old = ::open(m_target.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (::rename(m_temporary.constData(), m_target.constData()) != 0) {
        const int error = errno;
        if (old >= 0)
            ::close(old);
        fail(error);
    }
    m_temporary.clear();
    if (old >= 0)
        closeAside(old);
}

void TextFileWriter::closeAside(int fd) {
    try {
        std::thread([fd] { ::close(fd); }).detach();
    } catch (const std::exception&) {
        ::close(fd);
    }
}

void TextFileWriter::close() {
    const int fd = m_fd;
    m_fd = -1;
    // A file system that writes late (over a network) may only now say it is full.
    if (::close(fd) != 0 && errno != EINTR)
        fail(errno);
}

void TextFileWriter::discard() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
    m_temporary.clear();
}

void TextFileWriter::fail(int error) {
    const Failure failure = failures::fromErrno(error);
    discard();
    throw failure;
}

} // namespace varnel
