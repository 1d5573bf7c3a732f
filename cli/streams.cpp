#include "streams.h"

#include "files/descriptorio.h"
#include "files/filesystem.h"
#include "files/systemfailure.h"
#include "files/targetpath.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

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
    const QByteArray path = encodeFileName(name);
    // A descriptor the program was not given is no input: the name then fails to open.
    m_fd = givenDescriptor(path);
    if (m_fd >= 0 && ::fcntl(m_fd, F_GETFD) >= 0)
        return;
    do {
        m_fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    } while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0)
        throw systemFailure(errno);
    m_owned = true;
}

InputFile::~InputFile() {
    if (m_owned)
        ::close(m_fd);
}

Output::Output(int fd)
    : m_fd(fd) {
    m_buffer.reserve(OutputBlock + 4096);
}

bool Output::full() const {
    return m_buffer.size() >= OutputBlock;
}

void Output::writeIfFull() {
    if (!m_holding && full())
        flush();
}

void Output::flush() {
    try {
        writeAll(m_fd, m_buffer);
    } catch (const Failure& failure) {
        m_buffer.truncate(0);
        throw WriteFailure(failure);
    }
    // Emptied keeping its room: clear() would give it back, to be asked for again at once.
    m_buffer.truncate(0);
}

void Output::hold() {
    if (m_holding)
        return;
    flush();
    // Room for all that may be held, taken from the system only as it is written: grown a
    // step at a time instead, each step would copy what is held so far into fresh pages.
    m_buffer.reserve(HeldInMemory + OutputBlock);
    m_holding = true;
}

bool Output::holdsMuch() const {
    return m_holding && m_buffer.size() >= HeldInMemory;
}

void Output::release() {
    if (!m_holding)
        return;
    m_holding = false;
    flush();
}

void Output::drop() {
    if (!m_holding)
        return;
    m_holding = false;
    m_buffer.truncate(0);
}

void complain(const QString& name, const QString& reason) {
    const QByteArray line = "varnel: " + encodeFileName(name) + ": " + reason.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace varnel::cli
