#include "lspdocument.h"

#include "checkcommand.h"

#include "text/blockorder.h"
#include "text/linebreaks.h"

namespace varnel::cli {

namespace {

// The order of `varnel check` without options, for the findings and the sort alike: an
// edit then clears what the diagnostics show. A block's marker may ask for another.
LineOrder editorOrder() {
    return CheckOptions().order;
}

// The text's length in the units a position counts.
qsizetype unitsOf(QStringView text, PositionEncoding encoding) {
    if (encoding == PositionEncoding::Utf16)
        return text.size();
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (unit < 0x80) {
            bytes += 1;
        } else if (unit < 0x800) {
            bytes += 2;
        } else if (QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
                   QChar::isLowSurrogate(text[i + 1].unicode())) {
            bytes += 4;
            ++i;
        } else {
            bytes += 3; // a lone surrogate goes as U+FFFD does
        }
    }
    return bytes;
}

} // namespace

DocumentText::DocumentText(QString text)
    : m_text(std::move(text)) {
    const auto* units = reinterpret_cast<const char16_t*>(m_text.utf16());
    m_lines.reserve(countBreaks(units, m_text.size()) + 1);
    m_breakLengths.reserve(size_t(m_lines.capacity()));
    LineCuts cuts;
    cutLines(units, m_text.size(), true, cuts,
             [&](qsizetype start, qsizetype length, qsizetype next) {
                 m_lines.append(QStringView(units + start, length));
                 m_breakLengths.push_back(quint8(next - start - length));
             });
    m_blocks = findSortedBlocks(m_lines);
}

QStringView DocumentText::breakOf(qsizetype line) const {
    const QStringView text = m_lines[line];
    return QStringView(text.data() + text.size(), m_breakLengths[size_t(line)]);
}

TextPosition DocumentText::lineEnd(qsizetype line, PositionEncoding encoding) const {
    return {line, unitsOf(m_lines[line], encoding)};
}

TextPosition DocumentText::lineStart(qsizetype line, PositionEncoding encoding) const {
    // Past a last line without a break, the document ends where that line does.
    if (line == m_lines.size() && line > 0 && m_breakLengths.back() == 0)
        return lineEnd(line - 1, encoding);
    return {line, 0};
}

std::optional<QList<LineDiagnostic>> diagnosticsOf(const DocumentText& document,
                                                   PositionEncoding encoding,
                                                   const std::function<bool()>& superseded) {
    // The lines and blocks of a text already old are not judged either.
    if (superseded())
        return std::nullopt;
    const BlockLines& lines = document.lines();
    QList<LineDiagnostic> found;
    QByteArray message;
    const auto add = [&](const Finding& finding) {
        message.truncate(0);
        appendFindingMessage(finding, message);
        const qsizetype line = finding.line - 1;
        found.append(
            {line, document.lineEnd(line, encoding), finding.kind, QString::fromUtf8(message)});
    };
    for (const MarkerProblem& problem : document.blocks().problems) {
        const QByteArray text = lines[problem.line].toUtf8();
        const QByteArray why = problem.message.toUtf8();
        add({Finding::Kind::Marker, {}, problem.line + 1, text, why});
    }
    bool stopped = false;
    findBlockFindings(lines, document.blocks(), editorOrder(), false,
                      [&](const BlockFinding& finding) {
                          if (superseded()) {
                              stopped = true;
                              return false;
                          }
                          const QByteArray text = comparedText(lines, *finding.upper).toUtf8();
                          const QByteArray next = comparedText(lines, *finding.lower).toUtf8();
                          add({finding.repeat ? Finding::Kind::Repeat : Finding::Kind::Order,
                               {},
                               finding.upper->compared + 1,
                               text,
                               next,
                               finding.lower->compared + 1});
                          return true;
                      });
    if (stopped)
        return std::nullopt;
    return found;
}

QList<TextReplacement> sortEdits(const DocumentText& document, const SortedBlocks& blocks,
                                 PositionEncoding encoding) {
    const BlockLines& lines = document.lines();
    if (lines.isEmpty() || !blocks.problems.isEmpty())
        return {};
    const BlockArrangement arrangement = arrangeSortedBlocks(
        lines, blocks, editorOrder(), false, !document.breakOf(lines.size() - 1).isEmpty());
    QList<TextReplacement> edits;
    if (!arrangement.changed)
        return edits;
    const std::vector<PlacedLine>& placed = arrangement.lines;
    const auto inPlace = [](const PlacedLine& at, qsizetype line) {
        return at.line == line && at.comma == 0 && at.breakOf == line;
    };
    // How many of the lines before each one have a place: a repeat left out has none.
    std::vector<qsizetype> placedBefore(size_t(lines.size()) + 1, 0);
    for (const PlacedLine& at : placed)
        placedBefore[size_t(at.line) + 1] = 1;
    for (size_t i = 1; i < placedBefore.size(); ++i)
        placedBefore[i] += placedBefore[i - 1];
    // `line` walks the document and `at` the arrangement. A stretch that changes ends before
    // the first line in place after it that follows every line of the document before it
    // with a place, and only those.
    qsizetype line = 0;
    size_t at = 0;
    while (at < placed.size()) {
        if (inPlace(placed[at], line)) {
            ++line;
            ++at;
            continue;
        }
        const size_t from = at;
        qsizetype highest = -1;
        const auto stretchEndsAt = [&](size_t i) {
            const qsizetype end = placed[i].line;
            return inPlace(placed[i], end) && highest < end &&
                   qsizetype(i - from) == placedBefore[size_t(end)] - placedBefore[size_t(line)];
        };
        while (at < placed.size() && !stretchEndsAt(at)) {
            highest = std::max(highest, placed[at].line);
            ++at;
        }
        const qsizetype end = at < placed.size() ? placed[at].line : lines.size();
        QString text;
        for (size_t i = from; i < at; ++i) {
            const QStringView moved = lines[placed[i].line];
            if (placed[i].comma == 0) {
                text += moved;
            } else {
                const qsizetype cut = commaPlace(moved) - (placed[i].comma < 0 ? 1 : 0);
                text += moved.first(cut);
                if (placed[i].comma > 0)
                    text += u',';
                text += moved.sliced(cut + (placed[i].comma < 0 ? 1 : 0));
            }
            text += document.breakOf(placed[i].breakOf);
        }
        edits.append({document.lineStart(line, encoding), document.lineStart(end, encoding),
                      std::move(text)});
        line = end;
    }
    // Repeats left out at the end.
    if (line < lines.size())
        edits.append({document.lineStart(line, encoding),
                      document.lineStart(lines.size(), encoding), QString()});
    return edits;
}

const SortedBlock* blockHolding(const SortedBlocks& blocks, qsizetype line) {
    for (const SortedBlock& block : blocks.blocks)
        if (block.first <= line && line < block.end)
            return &block;
    return nullptr;
}

} // namespace varnel::cli
