#include "streams.h"

#include "files/filesystem.h"

#include "files/bytesource.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace varnel::cli {

namespace {
constexpr qsizetype OutputBlock = 1 << 16;
constexpr qsizetype HeldInMemory = 8 << 20;
} // namespace

QStringList inputNames(const QStringList& files) {
    return files.isEmpty() ? QStringList{QStringLiteral("-")} : files;
}

InputFile::InputFile(const QString& name)
    : m_fd(STDIN_FILENO) {
    if (name == u'-')
        return;
    do {
        m_fd = ::open(encodeFileName(name).constData(), O_RDONLY | O_CLOEXEC);
    } while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0)
        throw systemFailure(errno);
}

InputFile::~InputFile() {
    if (m_fd != STDIN_FILENO)
        ::close(m_fd);
}

Output::Output(int fd)
    : m_fd(fd) {
    m_buffer.reserve(OutputBlock + 4096);
}

Output::~Output() {
    if (m_kept >= 0)
        ::close(m_kept);
}

void Output::written() {
    if (!m_holding) {
        if (m_buffer.size() >= OutputBlock)
            flush();
    } else if (m_buffer.size() >= HeldInMemory) {
        if (m_kept < 0)
            m_kept = openUnnamedFile();
        writeAll(m_kept, m_buffer);
        m_buffer.clear();
    }
}

void Output::flush() {
    try {
        writeAll(m_fd, m_buffer);
    } catch (const Failure& failure) {
        m_buffer.clear();
        throw WriteFailure(failure);
    }
    m_buffer.clear();
}

void Output::hold() {
    if (m_holding)
        return;
    flush();
    m_holding = true;
    // Room at once: a buffer grown step by step would be copied over and over.
    m_buffer.reserve(HeldInMemory + OutputBlock);
}

void Output::release() {
    if (!m_holding)
        return;
    m_holding = false;
    if (m_kept >= 0) {
        // What went to disk first, then what is still in memory.
        const struct Closer {
            int fd;
            ~Closer() { ::close(fd); }
        } kept{std::exchange(m_kept, -1)};
        QByteArray tail = std::exchange(m_buffer, QByteArray());
        try {
            if (::lseek(kept.fd, 0, SEEK_SET) < 0)
                throw systemFailure(errno);
            ByteSource held(kept.fd);
            m_buffer.resize(OutputBlock);
            while (const qsizetype got = held.read(m_buffer.data(), OutputBlock)) {
                m_buffer.resize(got);
                flush();
                m_buffer.resize(OutputBlock);
            }
        } catch (const WriteFailure&) {
            throw;
        } catch (const Failure& failure) {
            throw WriteFailure(failure);
        }
        m_buffer = std::move(tail);
    }
    flush();
}

void Output::drop() {
    if (!m_holding)
        return;
    m_holding = false;
    m_buffer.clear();
    if (m_kept >= 0)
        ::close(std::exchange(m_kept, -1));
}

void complain(const QString& name, const QString& reason) {
    const QByteArray line = "varnel: " + encodeFileName(name) + ": " + reason.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace varnel::cli
