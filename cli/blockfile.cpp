#include "blockfile.h"

#include "files/systemfailure.h"
#include "files/filesystem.h"
#include "text/linestream.h"
#include "text/textdecoding.h"

#include <cerrno>

#include <sys/mman.h>
#include <unistd.h>

namespace varnel::cli {

namespace {

QByteArray readAll(int fd) {
    QByteArray bytes;
    char block[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw systemFailure(errno);
        if (got == 0)
            return bytes;
        bytes.append(block, got);
    }
}

// The bytes kept in a file of memory, for the one reader, which reads a descriptor.
class MemoryFile {
public:
    explicit MemoryFile(const QByteArray& bytes)
        : m_fd(::memfd_create("varnel-blocks", MFD_CLOEXEC)) {
        if (m_fd < 0)
            throw systemFailure(errno);
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t put =
                ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0) {
                const int error = errno;
                ::close(m_fd);
                throw systemFailure(error);
            }
            done += put;
        }
        ::lseek(m_fd, 0, SEEK_SET);
    }
    ~MemoryFile() { ::close(m_fd); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

BlockFile BlockFile::read(int fd) {
    BlockFile file;
    file.identity = identityOf(fd);
    file.bytes = readAll(fd);
    const ByteOrderMark mark = byteOrderMarkOf(file.bytes);
    // A file that never names a marker is all outside blocks: nothing more to know of it.
    if (!mark.isUtf16() && !file.bytes.contains("varnel:"))
        return file;
    const MemoryFile memory(file.bytes);
    LineStream stream(memory.fd());
    if (mark.isUtf16()) {
        file.unitSize = 2;
        file.bigEndian = mark.kind == ByteOrderMark::Kind::Utf16BigEndian;
    }
    const auto unitAt = [&](qsizetype at) -> char16_t {
        if (file.unitSize == 1)
            return char16_t(uchar(file.bytes[at]));
        const auto a = uchar(file.bytes[at]);
        const auto b = uchar(file.bytes[at + 1]);
        return file.bigEndian ? char16_t(a << 8 | b) : char16_t(b << 8 | a);
    };
    const qsizetype size = file.bytes.size() - (file.bytes.size() % file.unitSize);
    qsizetype at = mark.length;
    StreamLine line;
    std::vector<qsizetype> ends; // of each line's text in the units
    while (stream.next(line)) {
        Line place{at, file.unitSize == 2 ? 2 * line.units.size() : line.bytes.size(), 0};
        const qsizetype end = at + place.length;
        if (end < size && unitAt(end) == u'\r')
            place.breakLength = end + file.unitSize < size && unitAt(end + file.unitSize) == u'\n'
                                    ? 2 * file.unitSize
                                    : file.unitSize;
        else if (end < size && unitAt(end) == u'\n')
            place.breakLength = file.unitSize;
        file.lines.push_back(place);
        stream.appendText(line, file.units);
        ends.push_back(qsizetype(file.units.size()));
        at = end + place.breakLength;
    }
    // The half unit reads as a character of the last line that is not in its bytes.
    if (stream.halfUnitAtEnd() >= 0)
        throw Failure(ErrorNumber::InputPastEndOfFile,
                      QStringLiteral("ends in half a UTF-16 character (an odd number of bytes)"));
    file.texts.reserve(qsizetype(ends.size()));
    qsizetype from = 0;
    for (const qsizetype end : ends) {
        file.texts.append(QStringView(file.units.data() + from, end - from));
        from = end;
    }
    file.blocks = findSortedBlocks(file.texts);
    return file;
}

QByteArray BlockFile::utf8Of(const BlockItem& item) const {
    return comparedText(texts, item).toUtf8();
}

} // namespace varnel::cli
