#pragma once

#include "core/failure.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace varnel::cli {

// The exit statuses of the commands.
enum ExitStatus : int { Success = 0, OutOfOrder = 1, Trouble = 2 };

// The FILEs of a command: none means standard input, named "-" like it.
QStringList inputNames(const QStringList& files);

// A FILE of the command line, open for reading; "-" is standard input. A name for a
// descriptor the program was given (/dev/stdin, /dev/fd/N) is that descriptor, read from
// where it stands as "-" is: opened anew, a file would start over at its first byte, and
// what a shell or another program took from it before would be read again. Opening fails
// with systemFailure.
class InputFile {
public:
    explicit InputFile(const QString& name);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
    bool m_owned = false;
};

// Writing standard output failed: not one FILE's trouble but the whole command's.
class WriteFailure : public Failure {
public:
    explicit WriteFailure(const Failure& failure)
        : Failure(failure) {}
};

// Standard output in large writes. Fill buffer(), then call writeIfFull().
class Output {
public:
    explicit Output(int fd);
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    QByteArray& buffer() { return m_buffer; }
    // Whether the buffer holds a block, held or not.
    bool full() const;
    // Writes the buffer out once it is full, unless it is held; throws WriteFailure.
    void writeIfFull();
    void flush();

    // Keeps what is written from here on, in memory, until it is released, or dropped as if
    // never written. Whoever holds it settles what it waits for before it holds much.
    void hold();
    bool holdsMuch() const;
    void release();
    void drop();

private:
    int m_fd;
    QByteArray m_buffer;
    bool m_holding = false;
};

// One line on standard error: "varnel: NAME: REASON".
void complain(const QString& name, const QString& reason);

} // namespace varnel::cli
