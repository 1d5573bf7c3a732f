#include "sortcommand.h"

#include "extract/collation.h"
#include "lists/bytesource.h"
#include "lists/linestream.h"
#include "streams.h"

#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <new>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace varnel::cli {

namespace {

// Every line of the inputs, decoded, one after the other in one buffer.
class AllLines {
public:
    // Throws the Failure that stopped the reading.
    void read(const QString& name, bool first);
    void sort();
    // Writes them out, each with `lineBreak`, through `write`.
    template <typename Write> void write(QByteArrayView lineBreak, Write&& write) const;
    bool firstLineEndsWithCrLf() const { return m_crLf; }

private:
    struct Span {
        qsizetype from;
        qsizetype length;
    };
    QStringView view(const Span& span) const {
        return QStringView(m_text.data() + span.from, span.length);
    }

    std::vector<char16_t> m_text;
    std::vector<Span> m_lines;
    bool m_crLf = false;
};

void AllLines::read(const QString& name, bool first) {
    const InputFile input(name);
    LineStream stream(input.fd());
    StreamLine line;
    try {
        // A file's text takes no more units than it has bytes: room for it at once spares
        // growing a buffer of this size step by step.
        struct stat status;
        if (::fstat(input.fd(), &status) == 0 && S_ISREG(status.st_mode))
            m_text.reserve(m_text.size() + size_t(status.st_size));
        while (stream.next(line)) {
            const qsizetype from = qsizetype(m_text.size());
            stream.appendText(line, m_text);
            m_lines.push_back({from, qsizetype(m_text.size()) - from});
        }
    } catch (const std::bad_alloc&) {
        throw systemFailure(ENOMEM);
    }
    if (first)
        m_crLf = stream.firstLineEndsWithCrLf();
}

void AllLines::sort() {
    // Two halves on two threads, each with a collator of its own, then one merge. Stable, so
    // lines that collate alike keep the order they came in.
    const auto sortRange = [this](auto first, auto last) {
        const QCollator collator = makeCorrectOrderCollator();
        std::stable_sort(first, last, [&](const Span& a, const Span& b) {
            return collator.compare(view(a), view(b)) < 0;
        });
    };
    const auto middle = m_lines.begin() + qsizetype(m_lines.size() / 2);
    if (m_lines.size() < 10000) {
        sortRange(m_lines.begin(), m_lines.end());
        return;
    }
    std::thread lowerHalf([&] { sortRange(m_lines.begin(), middle); });
    sortRange(middle, m_lines.end());
    lowerHalf.join();
    const QCollator collator = makeCorrectOrderCollator();
    std::inplace_merge(m_lines.begin(), middle, m_lines.end(), [&](const Span& a, const Span& b) {
        return collator.compare(view(a), view(b)) < 0;
    });
}

// UTF-16 as UTF-8 at `out`, a unit that is half of no pair as '?' (as QString::toUtf8
// writes it); returns the end. A general encoder called once a line costs more than this.
char* encodeUtf8(QStringView text, char* out) {
    const char16_t* p = text.utf16();
    const char16_t* const end = p + text.size();
    while (p < end) {
        const char16_t c = *p++;
        if (c < 0x80) {
            *out++ = char(c);
        } else if (c < 0x800) {
            *out++ = char(0xC0 | (c >> 6));
            *out++ = char(0x80 | (c & 0x3F));
        } else if (!QChar::isSurrogate(c)) {
            *out++ = char(0xE0 | (c >> 12));
            *out++ = char(0x80 | ((c >> 6) & 0x3F));
            *out++ = char(0x80 | (c & 0x3F));
        } else if (QChar::isHighSurrogate(c) && p < end && QChar::isLowSurrogate(*p)) {
            const char32_t u = QChar::surrogateToUcs4(c, *p++);
            *out++ = char(0xF0 | (u >> 18));
            *out++ = char(0x80 | ((u >> 12) & 0x3F));
            *out++ = char(0x80 | ((u >> 6) & 0x3F));
            *out++ = char(0x80 | (u & 0x3F));
        } else {
            *out++ = '?';
        }
    }
    return out;
}

template <typename Write> void AllLines::write(QByteArrayView lineBreak, Write&& write) const {
    constexpr size_t Block = 1 << 20;
    std::vector<char> block(Block);
    size_t used = 0;
    for (const Span& span : m_lines) {
        // Three bytes a unit at most; a pair of units makes four.
        const size_t most = 3 * size_t(span.length) + size_t(lineBreak.size());
        if (used + most > block.size()) {
            write(QByteArrayView(block.data(), qsizetype(used)));
            used = 0;
            if (most > block.size())
                block.resize(most);
        }
        char* end = encodeUtf8(view(span), block.data() + used);
        end = std::copy(lineBreak.begin(), lineBreak.end(), end);
        used = size_t(end - block.data());
    }
    if (used > 0)
        write(QByteArrayView(block.data(), qsizetype(used)));
}

int writeToStandardOutput(const AllLines& lines, QByteArrayView lineBreak) {
    try {
        lines.write(lineBreak, [](QByteArrayView block) { writeAll(STDOUT_FILENO, block); });
    } catch (const Failure& failure) {
        complain(QStringLiteral("standard output"), failure.description());
        return Trouble;
    }
    return Success;
}

// Through a temporary file put in place at the end: until then the old file stays whole,
// so it may be one of the inputs.
int writeInPlaceOf(const QString& output, const AllLines& lines, QByteArrayView lineBreak) {
    // Past a file size limit the signal would end the program mid-write; ignored, the write
    // fails and says so ("File too large").
    std::signal(SIGXFSZ, SIG_IGN);
    QSaveFile file(output);
    // Unbuffered: each block goes straight to the file, so a failing write is seen at once.
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (ok) {
        lines.write(lineBreak, [&](QByteArrayView block) {
            // A short write is followed by one that fails and says why.
            while (ok && !block.isEmpty()) {
                const qint64 wrote = file.write(block.data(), block.size());
                ok = wrote > 0;
                block = block.sliced(ok ? wrote : 0);
            }
        });
        ok = ok && file.commit();
    }
    if (!ok) {
        complain(output, file.errorString());
        return Trouble;
    }
    return Success;
}

} // namespace

int runSort(const QStringList& files, const QString& output) {
    AllLines lines;
    bool first = true;
    for (const QString& name : inputNames(files)) {
        try {
            lines.read(name, first);
        } catch (const Failure& failure) {
            // Half the lines sorted would read as the whole list: nothing is written.
            complain(name, failure.description());
            return Trouble;
        }
        first = false;
    }
    lines.sort();
    const QByteArrayView lineBreak = lines.firstLineEndsWithCrLf() ? "\r\n" : "\n";
    return output.isEmpty() ? writeToStandardOutput(lines, lineBreak)
                            : writeInPlaceOf(output, lines, lineBreak);
}

} // namespace varnel::cli
