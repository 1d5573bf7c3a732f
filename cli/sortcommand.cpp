#include "sortcommand.h"

#include "order/collation.h"
#include "files/bytesource.h"
#include "files/filereplacement.h"
#include "files/filesystem.h"
#include "text/linestream.h"
#include "signals.h"
#include "streams.h"

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
    // Read once: should a file turn out not UTF-8 past its first block, its lines come
    // again and replace those taken.
    LineStream stream(input.fd(), LineStream::Replay::Again);
    const size_t firstLine = m_lines.size();
    StreamLine line;
    try {
        // A file's text takes no more units than it has bytes: room for it at once spares
        // growing a buffer of this size step by step.
        struct stat status;
        if (::fstat(input.fd(), &status) == 0 && S_ISREG(status.st_mode))
            m_text.reserve(m_text.size() + size_t(status.st_size));
        while (stream.next(line)) {
            const size_t index = firstLine + size_t(stream.lineNumber() - 1);
            if (index < m_lines.size()) {
                m_text.resize(size_t(m_lines[index].from));
                m_lines.resize(index);
            }
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
    // Two halves on two threads, each with a collator of its own, then merged on two
    // threads again. Stable, so lines that collate alike keep the order they came in.
    const auto byCollation = [this](const QCollator& collator) {
        return [this, &collator](const Span& a, const Span& b) {
            return collator.compare(view(a), view(b)) < 0;
        };
    };
    const auto onTwoThreads = [&](auto&& lower, auto&& upper) {
        std::thread thread([&] {
            const QCollator own = makeCorrectOrderCollator();
            lower(byCollation(own));
        });
        const QCollator own = makeCorrectOrderCollator();
        upper(byCollation(own));
        thread.join();
    };
    const auto first = m_lines.begin();
    const auto last = m_lines.end();
    if (m_lines.size() < 10000) {
        const QCollator collator = makeCorrectOrderCollator();
        std::stable_sort(first, last, byCollation(collator));
        return;
    }
    const auto middle = first + qsizetype(m_lines.size() / 2);
    onTwoThreads([&](auto less) { std::stable_sort(first, middle, less); },
                 [&](auto less) { std::stable_sort(middle, last, less); });
    // Lines of the lower half below its middle line, and those of the upper half below
    // that line, make one merge; the rest the other.
    const QCollator collator = makeCorrectOrderCollator();
    const auto lowerCut = first + (middle - first) / 2;
    const auto upperCut = std::lower_bound(middle, last, *lowerCut, byCollation(collator));
    const auto meet = std::rotate(lowerCut, middle, upperCut);
    onTwoThreads([&](auto less) { std::inplace_merge(first, lowerCut, meet, less); },
                 [&](auto less) { std::inplace_merge(meet, upperCut, last, less); });
}

// UTF-16 as UTF-8 at `out`, a unit that is half of no pair as '?' (as QString::toUtf8
// writes it); returns the end. A general encoder called once a line costs more than this.
char* encodeUtf8(QStringView text, char* out) {
    const char16_t* p = text.utf16();
    const char16_t* const end = p + text.size();
    while (p < end) {
        // Most lists are mostly ASCII: four units a step while they are.
        if (end - p >= 4 && ((p[0] | p[1] | p[2] | p[3]) < 0x80)) {
            out[0] = char(p[0]);
            out[1] = char(p[1]);
            out[2] = char(p[2]);
            out[3] = char(p[3]);
            p += 4;
            out += 4;
            continue;
        }
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

int writeTo(const QString& output, const AllLines& lines, QByteArrayView lineBreak) {
    // Past a file size limit the signal would end the program mid-write; ignored, the write
    // fails and says so ("File too large").
    std::signal(SIGXFSZ, SIG_IGN);
    removeTemporariesOnSignals();
    try {
        // A device or a named pipe is written into, as the shell's ">" would.
        FileReplacement file(systemFailure);
        file.open(encodeFileName(output), FileReplacement::Streams::WrittenInto);
        lines.write(lineBreak, [&file](QByteArrayView block) { file.write(block); });
        file.commit();
    } catch (const Failure& failure) {
        complain(output, failure.description());
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
                            : writeTo(output, lines, lineBreak);
}

} // namespace varnel::cli
