#include "checkcommand.h"

#include "blockfile.h"
#include "check/pairwalk.h"
#include "check/utf8linepairs.h"
#include "files/filesystem.h"
#include "files/mappedfile.h"
#include "files/temporaryfilefailure.h"
#include "order/collationkeys.h"
#include "streams.h"
#include "text/blockorder.h"
#include "text/linestream.h"
#include "text/textdecoding.h"
#include "text/utf8blocks.h"

#include <QCollator>

#include <csignal>
#include <memory>
#include <optional>
#include <utility>

#include <unistd.h>

namespace varnel::cli {

namespace {

class Checker {
public:
    Checker(Output& out, const CheckOptions& options)
        : m_out(out)
        , m_options(options)
        , m_report(FindingReport::create(options.format))
        , m_collator(makeCollator(options.order))
        , m_compare(options.order, m_collator) {
        // Opening the collator takes longer than checking a small file in the code order.
        if (options.order.rule == LineOrder::Rule::Locale)
            m_utf8Collation.emplace(m_collator);
    }

    void begin() {
        write([&](QByteArray& out) { m_report->begin(out); });
    }
    void end() {
        write([&](QByteArray& out) { m_report->end(out); });
    }
    // Returns whether something was found.
    bool check(const QString& name, LineStream& stream);
    // The same for a plain file in UTF-8 read in one go; nothing, with nothing read or
    // written, when the file is not one of those: it is then for check() to read.
    std::optional<bool> checkMapped(const QString& name, int fd);
    // The same for the sorted blocks marked in a file, read whole.
    bool checkBlocks(const QString& name, int fd);
    // The same for a plain UTF-8 file whose blocks are plain lists of lines, read in one go
    // and compared in place; nothing, with nothing written, for any other file.
    std::optional<bool> checkBlocksMapped(const QString& name, int fd);
    // The file failed: what was found in it while its encoding was in doubt goes.
    void abandon();

private:
    class MappedTaker;
    // Whether a mapped UTF-8 file's pairs are judged in place in `order`, rather than read.
    bool judgesInPlace(const LineOrder& order) const;
    // checkBlocksMapped, with the blocks found by findUtf8Blocks(`leaveOnlyBlock`).
    std::optional<bool> checkMappedBlocks(const QString& name, MappedFile& file,
                                          bool leaveOnlyBlock);
    // Gives the pairs of `text`, lines of the mapped `file`, to the report; `lineOffset`
    // lines come before the text's first. Whether the text was UTF-8, and with a `block`
    // whose lines it is, whether they were each an item.
    bool findMappedPairs(const QString& name, const MappedFile& file, QByteArrayView text,
                         const LineOrder& order, bool repeats, qint64 lineOffset, qint64& found,
                         const SortedBlock* block = nullptr);

    // A line decoded for a comparison: the buffers are kept from line to line.
    struct Decoded {
        std::vector<char16_t> units;
        qint64 number = 0; // 0: none
    };

    int compare(const LineStream& stream, const StreamLine& upper, const StreamLine& lower);
    int compareDecoded(const LineStream& stream, const StreamLine& upper, const StreamLine& lower);
    static void decode(const LineStream& stream, const StreamLine& line, qint64 number,
                       Decoded& into);
    void report(Finding::Kind kind, const QByteArray& name, const LineStream& stream,
                const StreamLine& upper, const StreamLine& lower, qint64 lowerNumber);
    void report(Finding::Kind kind, const QByteArray& name, QByteArrayView upperUtf8,
                QByteArrayView lowerUtf8, qint64 lowerNumber, bool namesNext = false);
    void forgetUnsettled();
    template <typename Write> void write(Write&& what) {
        if (m_options.quiet)
            return;
        what(m_out.buffer());
        m_out.writeIfFull();
    }

    Output& m_out;
    const CheckOptions& m_options;
    std::unique_ptr<FindingReport> m_report;
    const QCollator m_collator;
    LineComparison m_compare;
    std::optional<CollationKeys> m_utf8Collation;
    // The two threads of a mapped file's walk, kept from file to file.
    PairWalk m_walk;
    // The lines compared last: each line is the lower of one pair and the upper of the next.
    Decoded m_upper;
    Decoded m_lower;
    qint64 m_foundWhileUnsettled = 0;
    QByteArray m_text;
    QByteArray m_next;
};

int Checker::compare(const LineStream& stream, const StreamLine& upper, const StreamLine& lower) {
    const LineOrder& order = m_options.order;
    if (order.rule == LineOrder::Rule::Code && !order.numeric) {
        // Straight on the file's bytes, where the encoding allows: the common case, and fast.
        if (streamLinesSortAfter(stream, upper, lower))
            return 1;
        return m_options.unique && !streamLinesSortAfter(stream, lower, upper) ? 0 : -1;
    }
    // The collator reads UTF-8 itself: decoding each line first would only cost.
    if (order.rule == LineOrder::Rule::Locale && stream.encoding() == StreamEncoding::Utf8 &&
        m_utf8Collation->collates())
        return m_utf8Collation->compareUtf8(upper.bytes, lower.bytes);
    return compareDecoded(stream, upper, lower);
}

int Checker::compareDecoded(const LineStream& stream, const StreamLine& upper,
                            const StreamLine& lower) {
    const qint64 number = stream.lineNumber();
    if (m_lower.number == number - 1)
        std::swap(m_upper, m_lower);
    else
        decode(stream, upper, number - 1, m_upper);
    decode(stream, lower, number, m_lower);
    return m_compare(QStringView(m_upper.units.data(), qsizetype(m_upper.units.size())),
                     QStringView(m_lower.units.data(), qsizetype(m_lower.units.size())));
}

void Checker::decode(const LineStream& stream, const StreamLine& line, qint64 number,
                     Decoded& into) {
    into.units.clear();
    stream.appendText(line, into.units);
    into.number = number;
}

bool Checker::check(const QString& name, LineStream& stream) {
    const QByteArray shownName = encodeFileName(name);
    qint64 found = 0;
    qint64 number = 0;
    m_foundWhileUnsettled = 0;
    m_upper.number = m_lower.number = 0;
    StreamLine line;
    while (stream.next(line)) {
        if (stream.lineNumber() <= number) {
            // The stream went back to read the lines again in another encoding.
            found -= m_foundWhileUnsettled;
            forgetUnsettled();
            m_upper.number = m_lower.number = 0;
        }
        number = stream.lineNumber();
        if (!stream.settled())
            m_out.hold();
        if (number > 1) {
            const int order = compare(stream, stream.previous(), line);
            if (order > 0 || (order == 0 && m_options.unique)) {
                ++found;
                m_foundWhileUnsettled += stream.settled() ? 0 : 1;
                report(order > 0 ? Finding::Kind::Order : Finding::Kind::Repeat, shownName, stream,
                       stream.previous(), line, number);
            }
        }
        // Only a plain file is read before it is settled, and it can be read ahead instead
        // of more findings being kept.
        if (!stream.settled() && m_out.holdsMuch() && stream.settle()) {
            m_out.release();
            m_foundWhileUnsettled = 0;
        }
        // Once the encoding is settled, one finding answers the question.
        if (m_options.quiet && found > 0 && stream.settled())
            break;
    }
    m_out.release();
    m_foundWhileUnsettled = 0;
    return found > 0;
}

// Findings written while the rest of the file may still turn out not UTF-8 are held,
// as the stream holds them, and go if it does. Once it is known, they are still held a
// block at a time, until the bytes they were made of are known to have been the file's:
// another process may cut it short meanwhile, and what is read past its end is zeros.
class Checker::MappedTaker : public LinePairTaker {
public:
    MappedTaker(Checker& checker, const QString& name, const MappedFile& file, qint64 lineOffset)
        : m_checker(checker)
        , m_name(encodeFileName(name))
        , m_file(file)
        , m_lineOffset(lineOffset) {}
    void take(const LinePair& pair) override {
        // A line read past the end runs on through the zeros to its share's end: not
        // even held is such a finding.
        m_file.verify(false);
        ++found;
        ++m_held;
        m_checker.report(pair.repeat ? Finding::Kind::Repeat : Finding::Kind::Order, m_name,
                         pair.upper, pair.lower, m_lineOffset + pair.lowerNumber,
                         m_lineOffset > 0); // a block's findings name the next line
        if (m_settled && m_checker.m_out.full())
            pass();
    }
    bool takesAhead() const override { return !m_checker.m_out.holdsMuch(); }
    void settle(bool stand) override {
        if (!stand) {
            forget();
            return;
        }
        m_settled = true;
        pass();
    }
    // Writes the findings held, which verify() lets through.
    void pass() {
        m_file.verify();
        m_checker.m_out.release();
        m_checker.m_out.hold();
        m_held = 0;
    }
    void forget() {
        m_checker.m_report->forget(std::exchange(m_held, 0));
        m_checker.m_out.drop();
    }
    qint64 found = 0;

private:
    Checker& m_checker;
    const QByteArray m_name;
    const MappedFile& m_file;
    const qint64 m_lineOffset;
    qint64 m_held = 0;
    bool m_settled = false;
};

bool Checker::judgesInPlace(const LineOrder& order) const {
    // Every finding wanted: the stream stops reading at the first when only the status is,
    // wherever it stands then.
    if (m_options.quiet)
        return false;
    if (order.rule == LineOrder::Rule::Locale)
        return m_utf8Collation && m_utf8Collation->collates();
    return !order.numeric;
}

std::optional<bool> Checker::checkMapped(const QString& name, int fd) {
    if (!judgesInPlace(m_options.order))
        return std::nullopt;
    MappedFile file(fd);
    if (!file.isMapped())
        return std::nullopt;
    qint64 found = 0;
    if (!findMappedPairs(name, file, file.bytes(), m_options.order, m_options.unique, 0, found))
        return std::nullopt;
    file.consume();
    return found > 0;
}

bool Checker::findMappedPairs(const QString& name, const MappedFile& file, QByteArrayView text,
                              const LineOrder& order, bool repeats, qint64 lineOffset,
                              qint64& found, const SortedBlock* block) {
    MappedTaker taker(*this, name, file, lineOffset);
    m_out.hold();
    bool taken = false;
    try {
        taken = block ? findUtf8BlockLinePairs(m_walk, text, *block, repeats, taker)
                : order.rule == LineOrder::Rule::Locale
                    ? findUtf8LinePairs(m_walk, text, *m_utf8Collation, repeats, taker)
                    : findUtf8LinePairs(m_walk, text, repeats, taker);
        // Even a text found not UTF-8 may have been so only for the zeros read.
        file.verify();
    } catch (...) {
        taker.forget();
        throw;
    }
    m_out.release();
    found += taker.found;
    return taken;
}

std::optional<bool> Checker::checkBlocksMapped(const QString& name, int fd) {
    const LineOrder& order = m_options.order;
    if (order.rule != LineOrder::Rule::Code || !judgesInPlace(order))
        return std::nullopt;
    MappedFile file(fd);
    if (!file.isMapped() || byteOrderMarkOf(file.bytes()).length > 0)
        return std::nullopt;
    // A file's only block is read as it is compared; when it turns out otherwise, nothing
    // was written, and the file is searched whole.
    if (const std::optional<bool> found = checkMappedBlocks(name, file, true))
        return found;
    return checkMappedBlocks(name, file, false);
}

std::optional<bool> Checker::checkMappedBlocks(const QString& name, MappedFile& file,
                                               bool leaveOnlyBlock) {
    const LineOrder& order = m_options.order;
    const Utf8Blocks blocks = findUtf8Blocks(file.bytes(), leaveOnlyBlock);
    if (!blocks.utf8 || !blocks.markers.problems.isEmpty())
        return std::nullopt;
    for (size_t k = 0; k < blocks.spans.size(); ++k) {
        const SortedBlock& block = blocks.markers.blocks[qsizetype(k)];
        const LineOrder blockOrder = block.orderOver(order);
        // A block of its own locale order would need a collator of its own.
        if (!blocks.spans[k].wholeLines.value_or(true) ||
            blockOrder.rule != LineOrder::Rule::Code || !judgesInPlace(blockOrder))
            return std::nullopt;
    }
    file.verify();
    qint64 found = 0;
    for (size_t k = 0; k < blocks.spans.size(); ++k) {
        const Utf8Blocks::Span& span = blocks.spans[k];
        const SortedBlock& block = blocks.markers.blocks[qsizetype(k)];
        // Only a block left unread is still in doubt, and it is the only one: a block found
        // not UTF-8, or not whole lines, has had nothing of the file written.
        if (!findMappedPairs(name, file, file.bytes().sliced(span.from, span.to - span.from), order,
                             m_options.unique || block.unique, block.first, found,
                             span.wholeLines ? nullptr : &block))
            return std::nullopt;
    }
    file.consume();
    return found > 0;
}

bool Checker::checkBlocks(const QString& name, int fd) {
    const BlockFile file = BlockFile::read(fd);
    const QByteArray shownName = encodeFileName(name);
    for (const MarkerProblem& problem : file.blocks.problems) {
        const QByteArray marker = file.texts[problem.line].toUtf8();
        const QByteArray message = problem.message.toUtf8();
        write([&](QByteArray& out) {
            m_report->add({Finding::Kind::Marker, shownName, problem.line + 1, marker, message},
                          out);
        });
    }
    bool found = !file.blocks.problems.isEmpty();
    findBlockFindings(file.texts, file.blocks, m_options.order, m_options.unique,
                      [&](const BlockFinding& finding) {
                          found = true;
                          const QByteArray text = file.utf8Of(*finding.upper);
                          const QByteArray next = file.utf8Of(*finding.lower);
                          write([&](QByteArray& out) {
                              m_report->add(
                                  {finding.repeat ? Finding::Kind::Repeat : Finding::Kind::Order,
                                   shownName, finding.upper->compared + 1, text, next,
                                   finding.lower->compared + 1},
                                  out);
                          });
                          return !m_options.quiet;
                      });
    return found;
}

void Checker::abandon() {
    forgetUnsettled();
    m_out.release();
}

void Checker::forgetUnsettled() {
    m_out.drop();
    m_report->forget(std::exchange(m_foundWhileUnsettled, 0));
}

void Checker::report(Finding::Kind kind, const QByteArray& name, const LineStream& stream,
                     const StreamLine& upper, const StreamLine& lower, qint64 lowerNumber) {
    if (m_options.quiet)
        return;
    // Emptied keeping their room: clear() would give it back, and a list out of order has a
    // finding every few lines.
    m_text.truncate(0);
    stream.appendUtf8(upper, m_text);
    m_next.truncate(0);
    stream.appendUtf8(lower, m_next);
    report(kind, name, m_text, m_next, lowerNumber);
}

void Checker::report(Finding::Kind kind, const QByteArray& name, QByteArrayView upperUtf8,
                     QByteArrayView lowerUtf8, qint64 lowerNumber, bool namesNext) {
    write([&](QByteArray& out) {
        m_report->add(
            {kind, name, lowerNumber - 1, upperUtf8, lowerUtf8, namesNext ? lowerNumber : 0}, out);
    });
}

} // namespace

int runCheck(const QStringList& files, const CheckOptions& options) {
    // Past a file size limit the signal would end the program while it keeps a pipe's bytes
    // aside; ignored, the write fails and says so.
    std::signal(SIGXFSZ, SIG_IGN);
    Output out(STDOUT_FILENO);
    Checker checker(out, options);
    bool found = false;
    bool failed = false;
    try {
        checker.begin();
        for (const QString& name : inputNames(files)) {
            try {
                const InputFile input(name);
                if (options.blocks) {
                    const std::optional<bool> mapped = checker.checkBlocksMapped(name, input.fd());
                    found = (mapped ? *mapped : checker.checkBlocks(name, input.fd())) || found;
                } else if (const std::optional<bool> mapped =
                               checker.checkMapped(name, input.fd())) {
                    found = *mapped || found;
                } else {
                    LineStream stream(input.fd(), LineStream::Replay::Again);
                    found = checker.check(name, stream) || found;
                    if (stream.halfUnitAtEnd() >= 0)
                        throw Failure(ErrorNumber::InputPastEndOfFile,
                                      QStringLiteral("ends in half a UTF-16 character (an odd "
                                                     "number of bytes)"));
                }
            } catch (const WriteFailure&) {
                throw;
            } catch (const TemporaryFileFailure& failure) {
                // The temporary folder ran out, not the input: both are named.
                checker.abandon();
                out.flush();
                complain(name, QStringLiteral("cannot hold %1 in %2: %3")
                                   .arg(name == u'-' ? QStringLiteral("standard input")
                                                     : QStringLiteral("the input"),
                                        failure.folder(), failure.reason()));
                failed = true;
            } catch (const FileChangedFailure&) {
                // Another program cut it short: no fault of the disk.
                checker.abandon();
                out.flush();
                complain(name, QStringLiteral("changed while it was read"));
                failed = true;
            } catch (const Failure& failure) {
                // What was found before the failure stands, unless the encoding it was read
                // in was still in doubt; the other files are still checked.
                checker.abandon();
                out.flush();
                complain(name, failure.description());
                failed = true;
            }
            if (found && options.quiet)
                break;
        }
        checker.end();
        out.flush();
    } catch (const WriteFailure& failure) {
        complain(QStringLiteral("standard output"), failure.description());
        return Trouble;
    }
    return failed ? Trouble : found ? OutOfOrder : Success;
}

} // namespace varnel::cli
