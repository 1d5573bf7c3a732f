#include "checkcommand.h"

#include "files/bytesource.h"
#include "files/filesystem.h"
#include "streams.h"
#include "text/linestream.h"

#include <csignal>
#include <cstring>
#include <utility>

#include <unistd.h>

namespace varnel::cli {

namespace {

// `utf8` with quotes, backslashes and control characters escaped as in a C string.
void appendEscaped(QByteArrayView utf8, QByteArray& out) {
    static constexpr char named[] = "\"\\\a\b\t\n\v\f\r";
    static constexpr char letters[] = "\"\\abtnvfr";
    // Three octal digits always: a digit that follows cannot join the escape.
    const auto octal = [&out](unsigned char c) {
        out.append('\\').append(char('0' + (c >> 6))).append(char('0' + ((c >> 3) & 7)));
        out.append(char('0' + (c & 7)));
    };
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (const char* at = c ? std::strchr(named, c) : nullptr) {
            out.append('\\').append(letters[at - named]);
        } else if (c < 0x20 || c == 0x7F) {
            octal(c);
        } else if (c == 0xC2 && i + 1 < utf8.size() &&
                   static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
            // U+0080 to U+009F, the second set of controls, as their two bytes: C allows no
            // \u escape below U+00A0.
            octal(c);
            octal(static_cast<unsigned char>(utf8[++i]));
        } else {
            out.append(char(c));
        }
    }
}

class Checker {
public:
    Checker(Output& out, bool linesOnly)
        : m_out(out)
        , m_linesOnly(linesOnly) {}

    // Returns whether some line was out of order.
    bool check(const QString& name, LineStream& stream);

private:
    void report(const QByteArray& name, const LineStream& stream, const StreamLine& upper,
                const StreamLine& lower, qint64 lowerNumber);

    Output& m_out;
    bool m_linesOnly;
    QByteArray m_text;
};

bool Checker::check(const QString& name, LineStream& stream) {
    const QByteArray shownName = encodeFileName(name);
    qint64 found = 0;
    qint64 foundWhileUnsettled = 0;
    qint64 number = 0;
    StreamLine line;
    while (stream.next(line)) {
        if (stream.lineNumber() <= number) {
            // The stream went back to read the lines again in another encoding.
            m_out.drop();
            found -= std::exchange(foundWhileUnsettled, 0);
        }
        number = stream.lineNumber();
        if (!stream.settled())
            m_out.hold();
        if (number > 1 && streamLinesSortAfter(stream, stream.previous(), line)) {
            ++found;
            foundWhileUnsettled += stream.settled() ? 0 : 1;
            report(shownName, stream, stream.previous(), line, number);
        }
        // Only a plain file is read before it is settled, and it can be read ahead instead
        // of more findings being kept.
        if (!stream.settled() && m_out.holdsMuch() && stream.settle()) {
            m_out.release();
            foundWhileUnsettled = 0;
        }
    }
    m_out.release();
    return found > 0;
}

void Checker::report(const QByteArray& name, const LineStream& stream, const StreamLine& upper,
                     const StreamLine& lower, qint64 lowerNumber) {
    QByteArray& out = m_out.buffer();
    if (m_linesOnly) {
        stream.appendUtf8(upper, out);
        out.append('\n');
    } else {
        out.append(name).append(':').append(QByteArray::number(lowerNumber - 1)).append(": \"");
        m_text.clear();
        stream.appendUtf8(upper, m_text);
        appendEscaped(m_text, out);
        out.append("\" sorts after \"");
        m_text.clear();
        stream.appendUtf8(lower, m_text);
        appendEscaped(m_text, out);
        out.append("\" on line ").append(QByteArray::number(lowerNumber)).append('\n');
    }
    m_out.writeIfFull();
}

} // namespace

int runCheck(const QStringList& files, bool linesOnly) {
    // Past a file size limit the signal would end the program while it keeps a pipe's bytes
    // aside; ignored, the write fails and says so.
    std::signal(SIGXFSZ, SIG_IGN);
    Output out(STDOUT_FILENO);
    Checker checker(out, linesOnly);
    bool outOfOrder = false;
    bool failed = false;
    try {
        for (const QString& name : inputNames(files)) {
            try {
                const InputFile input(name);
                LineStream stream(input.fd(), LineStream::Replay::Again);
                outOfOrder = checker.check(name, stream) || outOfOrder;
            } catch (const WriteFailure&) {
                throw;
            } catch (const TemporaryFileFailure& failure) {
                // The temporary folder ran out, not the input.
                out.drop();
                out.flush();
                complain(failure.folder(), failure.reason());
                failed = true;
            } catch (const Failure& failure) {
                // What was found before the failure stands, unless the encoding it was read
                // in was still in doubt; the other files are still checked.
                out.drop();
                out.flush();
                complain(name, failure.description());
                failed = true;
            }
        }
        out.flush();
    } catch (const WriteFailure& failure) {
        complain(QStringLiteral("standard output"), failure.description());
        return Trouble;
    }
    return failed ? Trouble : outOfOrder ? OutOfOrder : Success;
}

} // namespace varnel::cli
