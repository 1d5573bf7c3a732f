#include "wholefilelines.h"

#include "core/sidethread.h"
#include "files/systemfailure.h"
#include "linebreaks.h"
#include "textdecoding.h"
#include "utf8bytes.h"
#include "utf8check.h"
#include "utf8pieces.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <limits>

#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

namespace {

// Where the lines are cut from and their narrow text goes: each half's from where its bytes
// would be, `narrow[narrowAt + part.from - from]` on.
struct Text {
    const char* bytes;
    size_t from;
    char* narrow;
    size_t narrowAt;
};

// A half of the text, whole lines, checked and cut on a thread of its own.
struct Part {
    size_t from = 0;
    size_t to = 0;
    bool utf8 = false;
    size_t breaks = 0; // its CR and LF: it has no more lines than one more than these
    InputLine* lines = nullptr;
    size_t count = 0;
    size_t narrowEnd = 0; // in the narrow text
    bool allAscii = true;
    bool firstCrLf = false;
    std::vector<char16_t> wide;
    std::exception_ptr failure;
};

void check(const char* text, Part& part) {
    const QByteArrayView bytes(text + part.from, qsizetype(part.to - part.from));
    Utf8Check utf8;
    part.utf8 = utf8.feed(bytes) && utf8.complete();
    part.breaks = size_t(countBreaks(bytes.data(), bytes.size()));
}

// The line of bytes [at, at + length).
void add(const Text& text, Part& part, size_t at, size_t length) {
    if (length > std::numeric_limits<quint32>::max())
        throw std::bad_alloc();
    InputLine line{};
    line.at = at;
    line.length = quint32(length);
    line.validUtf8 = 1;
    const char* const bytes = text.bytes + at;
    if (isAscii(QByteArrayView(bytes, qsizetype(length)))) {
        line.form = quint64(LineForm::Latin1Bytes);
        part.lines[part.count++] = line;
        return;
    }
    part.allAscii = false;
    // A byte a character for the characters below U+0100, as for most lines beyond ASCII;
    // the text is no longer than the bytes, so it fits where they would go.
    const Utf8Piece narrowed =
        decodeUtf8Latin1Piece(bytes, qsizetype(length), text.narrow + part.narrowEnd);
    if (narrowed.wellFormed && narrowed.read == qsizetype(length)) {
        line.form = quint64(LineForm::Narrow);
        line.textAt = part.narrowEnd;
        line.textLength = quint32(narrowed.written);
        part.narrowEnd += size_t(narrowed.written);
    } else {
        const size_t wideAt = part.wide.size();
        part.wide.resize(wideAt + length);
        const Utf8Piece widened =
            decodeUtf8Piece(bytes, qsizetype(length), part.wide.data() + wideAt);
        part.wide.resize(wideAt + size_t(widened.written));
        line.form = quint64(LineForm::Wide);
        line.textAt = wideAt;
        line.textLength = quint32(widened.written);
    }
    part.lines[part.count++] = line;
}

void cut(const Text& text, Part& part) {
    part.narrowEnd = text.narrowAt + (part.from - text.from);
    // Each part ends after a LF, or where the text does.
    LineCuts cuts{qsizetype(part.from), qsizetype(part.from)};
    cutLines(text.bytes, qsizetype(part.to), true, cuts,
             [&](qsizetype from, qsizetype length, qsizetype next) {
                 if (part.count == 0)
                     part.firstCrLf = next - from - length == 2;
                 add(text, part, size_t(from), size_t(length));
             });
}

// Runs `work` on both parts, the second on a thread of its own when there is one to be had.
template <typename Work> void onBoth(Part& first, Part& second, const Work& work) {
    const auto guarded = [&work](Part& part) {
        try {
            work(part);
        } catch (...) {
            part.failure = std::current_exception();
        }
    };
    SideThread other;
    try {
        if (second.from < second.to)
            other = SideThread([&] { guarded(second); });
    } catch (const std::exception&) {
    }
    guarded(first);
    if (!other.joinable())
        guarded(second);
    if (other.joinable())
        other.join();
    for (const Part* part : {&first, &second})
        if (part->failure)
            std::rethrow_exception(part->failure);
}

} // namespace

Utf8Cut cutUtf8Lines(const Bytes& bytes, size_t from, size_t to, InputLines& lines, Bytes& narrow,
                     std::vector<char16_t>& wide, size_t twoThreadsFrom) {
    const char* const text = bytes.data();
    // The second half starts after a LF, where a line starts and no UTF-8 sequence is cut.
    const size_t middle =
        to - from >= twoThreadsFrom
            ? size_t(lineStartAfterLf(text, qsizetype(from + (to - from) / 2), qsizetype(to)))
            : to;
    Part first;
    first.from = from;
    first.to = middle;
    Part second;
    second.from = middle;
    second.to = to;
    onBoth(first, second, [text](Part& part) { check(text, part); });
    Utf8Cut result;
    if (!first.utf8 || !second.utf8)
        return result;
    result.utf8 = true;

    // Room for the most lines either half can have, each half's lines cut into its own
    // stretch of it; and room for a byte of text a byte, each half's where its bytes start.
    // What a half leaves over is never touched, so it takes no memory.
    const size_t firstLine = lines.size();
    lines.resize(firstLine + first.breaks + second.breaks + 2);
    first.lines = lines.data() + firstLine;
    second.lines = first.lines + first.breaks + 1;
    const size_t narrowAt = narrow.size();
    narrow.resize(narrowAt + (to - from));
    const Text cutFrom{text, from, narrow.data(), narrowAt};
    try {
        onBoth(first, second, [&cutFrom](Part& part) { cut(cutFrom, part); });
    } catch (...) {
        lines.resize(firstLine);
        narrow.resize(narrowAt);
        throw;
    }
    std::memmove(first.lines + first.count, second.lines, second.count * sizeof(InputLine));
    lines.resize(firstLine + first.count + second.count);
    narrow.resize(second.count > 0 ? second.narrowEnd : first.narrowEnd);
    // Each half's wide text went to a buffer of its own.
    InputLine* partLines = first.lines;
    for (const Part* part : {&first, &second}) {
        if (!part->wide.empty()) {
            for (InputLine* line = partLines; line != partLines + part->count; ++line)
                if (LineForm(line->form) == LineForm::Wide)
                    line->textAt += wide.size();
            wide.insert(wide.end(), part->wide.begin(), part->wide.end());
        }
        partLines += part->count;
    }
    result.allAscii = first.allAscii && second.allAscii;
    result.firstLineEndsWithCrLf = first.count > 0 ? first.firstCrLf : second.firstCrLf;
    return result;
}

Utf8Cut readWholeUtf8File(int fd, Bytes& bytes, InputLines& lines, Bytes& narrow,
                          std::vector<char16_t>& wide) {
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return {};
    const off_t start = ::lseek(fd, 0, SEEK_CUR);
    if (start < 0)
        return {};
    const size_t from = bytes.size();
    // A byte more than the file holds: the read that finds its end then needs no more room,
    // unless it grew meanwhile.
    bytes.resize(from + size_t(std::max<off_t>(status.st_size - start, 0)) + 1);
    size_t to = from;
    for (;;) {
        if (to == bytes.size())
            bytes.resize(to + to / 2 + 4096);
        const ssize_t got = ::read(fd, bytes.data() + to, bytes.size() - to);
        if (got > 0) {
            to += size_t(got);
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            const int error = errno;
            bytes.resize(from);
            throw systemFailure(error);
        }
    }
    bytes.resize(to);
    const QByteArrayView text(bytes.data() + from, qsizetype(to - from));
    const bool marked =
        byteOrderMarkOf(text.first(std::min(text.size(), LongestByteOrderMark))).kind !=
        ByteOrderMark::Kind::None;
    const Utf8Cut cut = marked ? Utf8Cut() : cutUtf8Lines(bytes, from, to, lines, narrow, wide);
    if (!cut.utf8) {
        bytes.resize(from);
        if (::lseek(fd, start, SEEK_SET) < 0)
            throw systemFailure(errno);
    }
    return cut;
}

} // namespace varnel
