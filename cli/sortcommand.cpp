#include "sortcommand.h"

#include "blockfile.h"
#include "files/descriptorio.h"
#include "files/filemetadata.h"
#include "files/filereplacement.h"
#include "files/filesystem.h"
#include "files/systemfailure.h"
#include "order/collation.h"
#include "order/linesort.h"
#include "output/lineencoding.h"
#include "signals.h"
#include "streams.h"
#include "text/blockorder.h"
#include "text/linestream.h"
#include "text/utf8bytes.h"
#include "text/wholefilelines.h"

#include <QCollator>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace varnel::cli {

namespace {

// How the output is encoded. Inputs that agree are written as they came; inputs that
// differ are written as UTF-8.
enum class OutputEncoding { AnyByteEncoding, Utf8, MarkedUtf8, Windows1252, Utf16Le, Utf16Be };

// Every line of the inputs: its bytes as they came, once, and for comparing, its text. The
// text of a line whose bytes read as Latin-1 (ASCII, most lines) is those bytes; other lines
// keep a decoded copy, one byte a character where that fits. Not a LineStorage, which keeps
// only texts: the sort writes back each line's own bytes.
class InputBytesAndTexts {
public:
    // Throws the Failure that stopped the reading.
    void read(const QString& name);
    // Throws std::bad_alloc before anything is sorted when memory runs short. With `unique`,
    // of the lines the order calls equal only the first stays.
    void sort(const LineOrder& order, bool unique);
    // Writes them out in order, each with `lineBreak`, through `write`: the inputs' own
    // bytes, after their byte-order mark, when they share one encoding, UTF-8 otherwise.
    template <typename Write> void write(QByteArrayView lineBreak, Write&& write) const;
    // The break of the inputs' first line, in the output's encoding; LF where the inputs
    // differ.
    QByteArray lineBreak() const;
    // The input that ends in half a UTF-16 unit the output cannot keep at its end, as its
    // last byte: one of several, or one merged into UTF-8. Empty when there is none.
    QString unkeptHalfUnit() const;
    // What the input that `output` names was when it was read, should it be one of them.
    std::optional<FileIdentity> inputAt(const QString& output) const;
    std::optional<FileIdentity> firstInput() const {
        return m_inputs.empty() ? std::nullopt : std::optional(m_inputs.front());
    }

private:
    using Form = LineForm;
    using Line = InputLine;

    LineText textOf(const Line& line) const;
    bool readWhole(int fd);
    void add(const LineStream& stream, const StreamLine& line);
    void takeBack(size_t from);
    void noteEncoding(StreamEncoding encoding, bool bigEndian, bool allAscii);
    bool outputKeepsBytes() const { return !m_mixed; }
    bool writesUtf16() const {
        return !m_mixed &&
               (m_encoding == OutputEncoding::Utf16Le || m_encoding == OutputEncoding::Utf16Be);
    }
    size_t mostBytes(const Line& line) const;
    char* encode(const Line& line, char* out) const;

    Bytes m_bytes;
    Bytes m_narrow;
    std::vector<char16_t> m_wide;
    std::vector<char16_t> m_decoded; // one line's text, decoded
    InputLines m_lines;
    SortOrder m_order;
    size_t m_written = 0; // of m_order: with `unique`, fewer than all
    OutputEncoding m_encoding = OutputEncoding::AnyByteEncoding;
    bool m_mixed = false;
    bool m_lineBreakKnown = false;
    bool m_crLf = false;
    std::vector<FileIdentity> m_inputs; // the plain files read, as they were then
    int m_halfUnit = -1;                // written as it was, after the last line
    QStringList m_endingInHalfUnits;
};

LineText InputBytesAndTexts::textOf(const Line& line) const {
    switch (Form(line.form)) {
    case Form::Latin1Bytes:
        return QLatin1StringView(m_bytes.data() + line.at, qsizetype(line.length));
    case Form::Narrow:
        return QLatin1StringView(m_narrow.data() + line.textAt, qsizetype(line.textLength));
    case Form::Wide:
        return QStringView(m_wide.data() + line.textAt, qsizetype(line.textLength));
    case Form::Utf16:
        break;
    }
    return QStringView(m_wide.data() + line.at, qsizetype(line.length));
}

// A plain file of UTF-8 without a mark, the usual input, is read in one piece and cut into
// lines where it lies; anything else goes through the stream.
bool InputBytesAndTexts::readWhole(int fd) {
    const size_t firstLine = m_lines.size();
    const Utf8Cut cut = readWholeUtf8File(fd, m_bytes, m_lines, m_narrow, m_wide);
    if (!cut.utf8)
        return false;
    noteEncoding(StreamEncoding::Utf8, false, cut.allAscii);
    if (!m_lineBreakKnown && m_lines.size() > firstLine) {
        m_lineBreakKnown = true;
        m_crLf = cut.firstLineEndsWithCrLf;
    }
    return true;
}

void InputBytesAndTexts::add(const LineStream& stream, const StreamLine& streamLine) {
    const StreamEncoding encoding = stream.encoding();
    Line line{};
    if (encoding == StreamEncoding::Utf16) {
        if (quint64(streamLine.units.size()) > std::numeric_limits<quint32>::max())
            throw std::bad_alloc();
        line.form = quint64(Form::Utf16);
        line.at = m_wide.size();
        line.length = quint32(streamLine.units.size());
        m_wide.insert(m_wide.end(), streamLine.units.utf16(),
                      streamLine.units.utf16() + streamLine.units.size());
        m_lines.push_back(line);
        return;
    }
    const QByteArrayView bytes = streamLine.bytes;
    if (quint64(bytes.size()) > std::numeric_limits<quint32>::max())
        throw std::bad_alloc();
    line.at = m_bytes.size();
    line.length = quint32(bytes.size());
    line.validUtf8 = encoding == StreamEncoding::Utf8;
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    const bool latin1 =
        encoding == StreamEncoding::Windows1252 ? readsAsLatin1(bytes) : isAscii(bytes);
    if (latin1) {
        line.form = quint64(Form::Latin1Bytes);
    } else {
        m_decoded.clear();
        stream.appendText(streamLine, m_decoded);
        const QStringView text(m_decoded.data(), qsizetype(m_decoded.size()));
        line.textLength = quint32(text.size());
        if (fitsLatin1(text)) {
            line.form = quint64(Form::Narrow);
            line.textAt = m_narrow.size();
            m_narrow.resize(m_narrow.size() + size_t(text.size()));
            std::transform(text.begin(), text.end(), m_narrow.end() - text.size(),
                           [](QChar c) { return char(c.unicode()); });
        } else {
            line.form = quint64(Form::Wide);
            line.textAt = m_wide.size();
            m_wide.insert(m_wide.end(), m_decoded.begin(), m_decoded.end());
        }
    }
    m_lines.push_back(line);
}

void InputBytesAndTexts::takeBack(size_t from) {
    // Lines are added in order, so each buffer goes back to where the first of them that
    // used it began.
    bool narrowDone = false;
    bool wideDone = false;
    for (size_t i = from; i < m_lines.size() && !(narrowDone && wideDone); ++i) {
        const Line& line = m_lines[i];
        if (Form(line.form) == Form::Narrow && !narrowDone) {
            m_narrow.resize(line.textAt);
            narrowDone = true;
        } else if (Form(line.form) == Form::Wide && !wideDone) {
            m_wide.resize(line.textAt);
            wideDone = true;
        }
    }
    m_bytes.resize(m_lines[from].at);
    m_lines.resize(from);
}

void InputBytesAndTexts::noteEncoding(StreamEncoding streamEncoding, bool bigEndian,
                                      bool allAscii) {
    OutputEncoding encoding = OutputEncoding::AnyByteEncoding;
    switch (streamEncoding) {
    case StreamEncoding::Utf8:
        // ASCII reads the same in every encoding but UTF-16.
        encoding = allAscii ? OutputEncoding::AnyByteEncoding : OutputEncoding::Utf8;
        break;
    case StreamEncoding::MarkedUtf8:
        encoding = OutputEncoding::MarkedUtf8;
        break;
    case StreamEncoding::Windows1252:
        encoding = OutputEncoding::Windows1252;
        break;
    case StreamEncoding::Utf16:
        encoding = bigEndian ? OutputEncoding::Utf16Be : OutputEncoding::Utf16Le;
        break;
    }
    if (encoding == OutputEncoding::AnyByteEncoding)
        return;
    if (m_encoding == OutputEncoding::AnyByteEncoding)
        m_encoding = encoding;
    else if (m_encoding != encoding)
        m_mixed = true;
}

void InputBytesAndTexts::read(const QString& name) {
    const InputFile input(name);
    // Before the first byte is read: a change while it is read counts too.
    if (const std::optional<FileIdentity> identity = identityOf(input.fd()))
        m_inputs.push_back(*identity);
    try {
        if (readWhole(input.fd()))
            return;
    } catch (const std::bad_alloc&) {
        throw systemFailure(ENOMEM);
    }
    // Read once: should a file turn out not UTF-8 past its first block, its lines come
    // again and replace those taken.
    LineStream stream(input.fd(), LineStream::Replay::Again);
    const size_t firstLine = m_lines.size();
    StreamLine line;
    bool allAscii = true;
    try {
        // A file's bytes are at most its size: room for them at once spares growing a
        // buffer of this size step by step.
        struct stat status;
        if (::fstat(input.fd(), &status) == 0 && S_ISREG(status.st_mode))
            m_bytes.reserve(m_bytes.size() + size_t(status.st_size));
        while (stream.next(line)) {
            const size_t index = firstLine + size_t(stream.lineNumber() - 1);
            if (index < m_lines.size())
                takeBack(index);
            add(stream, line);
            allAscii = allAscii && Form(m_lines.back().form) == Form::Latin1Bytes;
        }
    } catch (const std::bad_alloc&) {
        throw systemFailure(ENOMEM);
    }
    if (const int halfUnit = stream.halfUnitAtEnd(); halfUnit >= 0) {
        // The reader gave it as U+FFFD ending the last line; a sort only moves lines, so
        // the byte stays as it was, at the very end.
        Line& last = m_lines.back();
        m_wide.pop_back();
        if (--last.length == 0)
            m_lines.pop_back();
        m_halfUnit = halfUnit;
        m_endingInHalfUnits.append(name);
    }
    noteEncoding(stream.encoding(), stream.isBigEndian(), allAscii);
    if (!m_lineBreakKnown && m_lines.size() > firstLine) {
        m_lineBreakKnown = true;
        m_crLf = stream.firstLineEndsWithCrLf();
    }
}

void InputBytesAndTexts::sort(const LineOrder& order, bool unique) {
    LineSort sort(order);
    m_order = sort.order(m_lines.size(), [this](quint32 i) { return textOf(m_lines[i]); });
    m_written = m_order.size();
    if (!unique || m_order.empty())
        return;
    // The sort keeps equal lines in the order they came, so the first of each run is the
    // first of them in the input.
    const QCollator collator = makeCollator(order);
    LineComparison compare(order, collator);
    quint32* const first = m_order.data();
    quint32* kept = first;
    for (quint32* next = first + 1; next != first + m_order.size(); ++next)
        if (compare(textOf(m_lines[*kept]), textOf(m_lines[*next])) != 0)
            *++kept = *next;
    m_written = size_t(kept + 1 - first);
}

QByteArray InputBytesAndTexts::lineBreak() const {
    if (m_mixed)
        return "\n";
    const QByteArray lineBreak = m_crLf ? "\r\n" : "\n";
    if (m_encoding == OutputEncoding::Utf16Le || m_encoding == OutputEncoding::Utf16Be) {
        QByteArray units(2 * lineBreak.size(), Qt::Uninitialized);
        encodeUtf16(QString::fromLatin1(lineBreak), m_encoding == OutputEncoding::Utf16Be,
                    units.data());
        return units;
    }
    return lineBreak;
}

QString InputBytesAndTexts::unkeptHalfUnit() const {
    if (m_endingInHalfUnits.size() > 1 || (m_mixed && !m_endingInHalfUnits.isEmpty()))
        return m_endingInHalfUnits.first();
    return {};
}

std::optional<FileIdentity> InputBytesAndTexts::inputAt(const QString& output) const {
    struct stat status;
    if (::stat(encodeFileName(output).constData(), &status) != 0)
        return std::nullopt;
    for (const FileIdentity& input : m_inputs)
        if (input.isFile(status))
            return input;
    return std::nullopt;
}

size_t InputBytesAndTexts::mostBytes(const Line& line) const {
    if (Form(line.form) == Form::Utf16)
        return outputKeepsBytes() ? 2 * size_t(line.length) : 3 * size_t(line.length);
    if (writesUtf16())
        return 2 * size_t(Form(line.form) == Form::Latin1Bytes ? line.length : line.textLength);
    if (outputKeepsBytes() || line.validUtf8)
        return line.length;
    // Three bytes a unit at most; a pair of units makes four.
    return 3 * size_t(Form(line.form) == Form::Latin1Bytes ? line.length : line.textLength);
}

char* InputBytesAndTexts::encode(const Line& line, char* out) const {
    if (Form(line.form) == Form::Utf16) {
        if (!outputKeepsBytes())
            return encodeUtf8(textOf(line), out);
        return encodeUtf16(textOf(line).wide(), m_encoding == OutputEncoding::Utf16Be, out);
    }
    // An ASCII input's bytes are the same in every byte encoding, but not in UTF-16.
    if (writesUtf16()) {
        const LineText text = textOf(line);
        const bool bigEndian = m_encoding == OutputEncoding::Utf16Be;
        return text.isWide() ? encodeUtf16(text.wide(), bigEndian, out)
                             : encodeUtf16(text.toString(), bigEndian, out);
    }
    if (outputKeepsBytes() || line.validUtf8)
        return std::copy_n(m_bytes.data() + line.at, line.length, out);
    return encodeUtf8(textOf(line), out);
}

template <typename Write>
void InputBytesAndTexts::write(QByteArrayView lineBreak, Write&& write) const {
    constexpr size_t Block = 1 << 20;
    constexpr size_t PrefetchLines = 16;
    std::vector<char> block(Block);
    size_t used = 0;
    if (!m_mixed) {
        const QByteArrayView mark = m_encoding == OutputEncoding::MarkedUtf8 ? "\xEF\xBB\xBF"
                                    : m_encoding == OutputEncoding::Utf16Le  ? "\xFF\xFE"
                                    : m_encoding == OutputEncoding::Utf16Be  ? "\xFE\xFF"
                                                                             : "";
        used = size_t(std::copy(mark.begin(), mark.end(), block.data()) - block.data());
    }
    const quint32* const order = m_order.begin();
    for (size_t i = 0; i < m_written; ++i) {
        // The lines are read out of order: asking for those a little ahead early hides most
        // of the wait for memory.
        if (i + PrefetchLines < m_written) {
            const Line& ahead = m_lines[order[i + PrefetchLines / 2]];
            __builtin_prefetch(&m_lines[order[i + PrefetchLines]]);
            __builtin_prefetch(Form(ahead.form) == Form::Utf16
                                   ? static_cast<const void*>(m_wide.data() + ahead.at)
                                   : m_bytes.data() + ahead.at);
        }
        const Line& line = m_lines[order[i]];
        const size_t most = mostBytes(line) + size_t(lineBreak.size());
        if (used + most > block.size()) {
            write(QByteArrayView(block.data(), qsizetype(used)));
            used = 0;
            if (most > block.size())
                block.resize(most);
        }
        char* end = encode(line, block.data() + used);
        end = std::copy(lineBreak.begin(), lineBreak.end(), end);
        used = size_t(end - block.data());
    }
    if (m_halfUnit >= 0 && !m_mixed) {
        if (used == block.size()) {
            write(QByteArrayView(block.data(), qsizetype(used)));
            used = 0;
        }
        block[used++] = char(m_halfUnit);
    }
    if (used > 0)
        write(QByteArrayView(block.data(), qsizetype(used)));
}

int writeToStandardOutput(const InputBytesAndTexts& lines, QByteArrayView lineBreak) {
    try {
        lines.write(lineBreak, [](QByteArrayView block) { writeAll(STDOUT_FILENO, block); });
    } catch (const Failure& failure) {
        complain(QStringLiteral("standard output"), failure.description());
        return Trouble;
    }
    return Success;
}

// Writes through `writeAll` what `writeAll` gives to the file at `output`, which
// replaces it only once all is written.
template <typename WriteAll>
int replace(const QString& output, const std::optional<FileIdentity>& read, WriteAll&& writeAll) {
    // Past a file size limit the signal would end the program mid-write; ignored, the write
    // fails and says so ("File too large").
    std::signal(SIGXFSZ, SIG_IGN);
    removeTemporariesOnSignals();
    try {
        // A device or a named pipe is written into, as the shell's ">" would.
        FileReplacement file(systemFailure);
        file.open(encodeFileName(output), FileReplacement::Streams::WrittenInto);
        // Another program's writes since the file was read are not sorted over.
        if (read)
            file.expectUnchanged(*read, Failure(ErrorNumber::PathFileAccessError,
                                                QStringLiteral("changed while it was being "
                                                               "sorted; left as it is")));
        writeAll([&file](QByteArrayView block) { file.write(block); });
        file.commit();
    } catch (const Failure& failure) {
        complain(output, failure.description());
        return Trouble;
    }
    return Success;
}

int writeTo(const QString& output, const InputBytesAndTexts& lines, QByteArrayView lineBreak,
            const std::optional<FileIdentity>& read) {
    return replace(output, read, [&](const auto& write) { lines.write(lineBreak, write); });
}

// A file with its sorted blocks in order: every line keeps its bytes and its break, and
// only the lines of a block's items move.
class SortedBlockFile {
public:
    SortedBlockFile(BlockFile file, const SortOptions& options)
        : m_file(std::move(file))
        , m_arrangement(
              arrangeSortedBlocks(m_file.texts, m_file.blocks, options.order, options.unique,
                                  m_file.lines.empty() || m_file.lines.back().breakLength != 0)) {}

    bool changed() const { return m_arrangement.changed; }
    const BlockFile& file() const { return m_file; }

    template <typename Write> void write(Write&& write) const {
        const QByteArray& bytes = m_file.bytes;
        const std::vector<BlockFile::Line>& lines = m_file.lines;
        QByteArray out;
        // The mark, and a file of no line at all.
        out.append(bytes.first(lines.empty() ? bytes.size() : lines.front().at));
        for (const PlacedLine& placed : m_arrangement.lines) {
            const BlockFile::Line& line = lines[size_t(placed.line)];
            QByteArrayView text = QByteArrayView(bytes).sliced(line.at, line.length);
            if (placed.comma == 0) {
                out.append(text);
            } else {
                // Blanks and the comma are one unit each, whatever came before them.
                const QStringView decoded = m_file.texts[placed.line];
                const qsizetype cut = line.length -
                                      (decoded.size() - commaPlace(decoded)) * m_file.unitSize -
                                      (placed.comma < 0 ? m_file.unitSize : 0);
                out.append(text.first(cut));
                if (placed.comma > 0)
                    out.append(commaBytes());
                out.append(text.sliced(cut + (placed.comma < 0 ? m_file.unitSize : 0)));
            }
            const BlockFile::Line& breakOf = lines[size_t(placed.breakOf)];
            out.append(
                QByteArrayView(bytes).sliced(breakOf.at + breakOf.length, breakOf.breakLength));
            if (out.size() >= (1 << 20)) {
                write(QByteArrayView(out));
                out.truncate(0);
            }
        }
        const qsizetype end =
            lines.empty() ? bytes.size()
                          : lines.back().at + lines.back().length + lines.back().breakLength;
        out.append(QByteArrayView(bytes).sliced(end));
        if (!out.isEmpty())
            write(QByteArrayView(out));
    }

private:
    QByteArray commaBytes() const {
        if (m_file.unitSize == 1)
            return ",";
        return m_file.bigEndian ? QByteArray("\0,", 2) : QByteArray(",\0", 2);
    }

    BlockFile m_file;
    BlockArrangement m_arrangement;
};

// Each FILE with its blocks sorted, one after another, to `output` (standard output when
// empty). A file whose markers cannot be followed stops it all, nothing written; a FILE
// that is the output and has nothing to sort is not written at all.
int sortBlocksInto(const QStringList& files, const SortOptions& options, const QString& output,
                   bool inPlace) {
    std::vector<SortedBlockFile> sorted;
    for (const QString& name : inputNames(files)) {
        try {
            const InputFile input(name);
            BlockFile file = BlockFile::read(input.fd());
            if (!file.blocks.problems.isEmpty()) {
                const MarkerProblem& problem = file.blocks.problems.first();
                complain(name, QStringLiteral("line %1: %2; left as it is")
                                   .arg(problem.line + 1)
                                   .arg(problem.message));
                return Trouble;
            }
            sorted.emplace_back(std::move(file), options);
        } catch (const Failure& failure) {
            complain(name, failure.description());
            return Trouble;
        } catch (const std::bad_alloc&) {
            complain(name, systemFailure(ENOMEM).description());
            return Trouble;
        }
    }
    const auto writeFiles = [&](const auto& write) {
        for (const SortedBlockFile& file : sorted)
            file.write(write);
    };
    if (output.isEmpty()) {
        try {
            writeFiles([](QByteArrayView block) { writeAll(STDOUT_FILENO, block); });
        } catch (const Failure& failure) {
            complain(QStringLiteral("standard output"), failure.description());
            return Trouble;
        }
        return Success;
    }
    // The file read, when the output is one of the inputs.
    std::optional<FileIdentity> read;
    struct stat status;
    if (inPlace)
        read = sorted.front().file().identity;
    else if (::stat(encodeFileName(output).constData(), &status) == 0)
        for (const SortedBlockFile& file : sorted)
            if (file.file().identity && file.file().identity->isFile(status))
                read = file.file().identity;
    // Nothing the user did not ask for is written: a file that stays as it was is left.
    if (read && sorted.size() == 1 && !sorted.front().changed())
        return Success;
    return replace(output, read, writeFiles);
}

int sortInto(const QStringList& files, const SortOptions& options, const QString& output,
             bool inPlace = false) {
    if (options.blocks)
        return sortBlocksInto(files, options, output, inPlace);
    InputBytesAndTexts lines;
    for (const QString& name : inputNames(files)) {
        try {
            lines.read(name);
        } catch (const Failure& failure) {
            // Half the lines sorted would read as the whole list: nothing is written.
            complain(name, failure.description());
            return Trouble;
        }
    }
    if (const QString name = lines.unkeptHalfUnit(); !name.isEmpty()) {
        complain(name, QStringLiteral("ends in half a UTF-16 character (an odd number of bytes), "
                                      "which this output cannot keep; nothing written"));
        return Trouble;
    }
    try {
        lines.sort(options.order, options.unique);
    } catch (const std::bad_alloc&) {
        complain(QStringLiteral("sort"), systemFailure(ENOMEM).description());
        return Trouble;
    }
    const QByteArray lineBreak = lines.lineBreak();
    if (output.isEmpty())
        return writeToStandardOutput(lines, lineBreak);
    // In place the file is the one read even should its name lead elsewhere by now.
    return writeTo(output, lines, lineBreak, inPlace ? lines.firstInput() : lines.inputAt(output));
}

} // namespace

int runSort(const QStringList& files, const SortOptions& options) {
    if (!options.inPlace)
        return sortInto(files, options, options.output);
    // One by one: a file that cannot be read or written leaves the others to be sorted.
    int status = Success;
    for (const QString& file : files)
        status = std::max(status, sortInto({file}, options, file, true));
    return status;
}

} // namespace varnel::cli
