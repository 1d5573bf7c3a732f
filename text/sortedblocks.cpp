#include "sortedblocks.h"

#include "linebreaks.h"

#include <QString>

#include <algorithm>
#include <cstring>
#include <utility>

namespace varnel {

namespace {

constexpr QStringView StartMarker = u"varnel: sorted";
constexpr QStringView EndMarker = u"varnel: end";

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

qsizetype indentOf(QStringView text) {
    qsizetype n = 0;
    while (n < text.size() && isBlank(text[n]))
        ++n;
    return n;
}

// The length of `text` without its trailing blanks.
qsizetype lengthWithoutTrailingBlanks(QStringView text) {
    qsizetype n = text.size();
    while (n > 0 && isBlank(text[n - 1]))
        --n;
    return n;
}

bool endsWithComma(QStringView text) {
    const qsizetype n = lengthWithoutTrailingBlanks(text);
    return n > 0 && text[n - 1] == u',';
}

bool isOptionWord(QStringView word) {
    for (const QChar c : word)
        if (!(c.isLetterOrNumber() || c == u'=' || c == u'_' || c == u'-'))
            return false;
    return true;
}

// Reads the words after the marker into `block`; the first unknown one, if any.
QString readOptions(QStringView afterMarker, SortedBlock& block) {
    for (const QStringView word : afterMarker.tokenize(u' ', Qt::SkipEmptyParts)) {
        for (const QStringView piece : word.tokenize(u'\t', Qt::SkipEmptyParts)) {
            if (!isOptionWord(piece))
                return {};
            if (piece == u"order=code")
                block.rule = LineOrder::Rule::Code;
            else if (piece == u"order=locale")
                block.rule = LineOrder::Rule::Locale;
            else if (piece == u"numeric")
                block.numeric = true;
            else if (piece == u"unique")
                block.unique = true;
            else if (piece == u"groups=no")
                block.groupsAcross = true;
            else
                return piece.toString();
        }
    }
    return {};
}

// Cuts a block's lines into groups and items.
class BlockReader {
public:
    BlockReader(const BlockLines& lines, SortedBlock& block)
        : m_lines(lines)
        , m_block(block) {}

    void read() {
        for (qsizetype i = m_block.first; i < m_block.end; ++i)
            take(i);
        closeGroup(m_block.end);
    }

private:
    void take(qsizetype i) {
        const QStringView text = m_lines[i];
        const bool blank = text.trimmed().isEmpty();
        if (blank && !m_block.groupsAcross) {
            closeGroup(i);
            return;
        }
        const qsizetype indent = blank ? 0 : indentOf(text);
        // Comment or not, a line set in further than the group's first item goes on the
        // item above it, with any comment met in between.
        if (!blank && !m_group.items.isEmpty() && indent > m_groupIndent) {
            m_group.items.last().last = i;
            m_pendingFrom = -1;
            return;
        }
        if (!blank && !m_block.leader.isEmpty() &&
            text.sliced(indentOf(text)).trimmed().startsWith(m_block.leader)) {
            if (m_pendingFrom < 0)
                m_pendingFrom = i;
            return;
        }
        if (m_group.items.isEmpty())
            m_groupIndent = indent;
        const qsizetype first = m_pendingFrom >= 0 ? m_pendingFrom : i;
        m_group.items.append({first, i, i, text.size()});
        m_pendingFrom = -1;
    }

    void closeGroup(qsizetype end) {
        if (m_pendingFrom >= 0) {
            m_group.trailingFirst = m_pendingFrom;
            m_group.trailingEnd = end;
        }
        m_pendingFrom = -1;
        if (!m_group.items.isEmpty()) {
            markCommas(m_group);
            m_block.groups.append(m_group);
        }
        m_group = {};
    }

    void markCommas(BlockGroup& group) const {
        const qsizetype count = group.items.size();
        if (count < 2 || endsWithComma(m_lines[group.items.last().last]))
            return;
        for (qsizetype k = 0; k + 1 < count; ++k)
            if (!endsWithComma(m_lines[group.items[k].last]))
                return;
        group.commas = true;
        for (qsizetype k = 0; k + 1 < count; ++k) {
            BlockItem& item = group.items[k];
            if (item.compared == item.last)
                item.comparedLength = lengthWithoutTrailingBlanks(m_lines[item.last]) - 1;
        }
    }

    const BlockLines& m_lines;
    SortedBlock& m_block;
    BlockGroup m_group;
    qsizetype m_groupIndent = 0;
    qsizetype m_pendingFrom = -1; // the first comment line waiting for its item
};

} // namespace

bool holdsBlockMarker(QStringView line) {
    // Every line of a file is asked, and few hold a colon: it is looked for first, as one
    // character, which is quick, and only then the word before it.
    constexpr QStringView Word = u"varnel";
    for (qsizetype at = line.indexOf(u':', Word.size()); at >= 0; at = line.indexOf(u':', at + 1))
        if (line.sliced(at - Word.size(), Word.size()) == Word)
            return true;
    return false;
}

void BlockMarkers::take(qsizetype i, QStringView line) {
    if (const qsizetype at = line.indexOf(StartMarker); at >= 0) {
        if (m_open) {
            m_found.problems.append(
                {i, QStringLiteral("\"varnel: sorted\" before the block that starts on line "
                                   "%1 has ended")
                        .arg(m_open->marker + 1)});
            return;
        }
        SortedBlock block;
        block.marker = i;
        block.first = i + 1;
        block.leader = line.first(line.indexOf(u"varnel:")).trimmed().toString();
        if (const QString word = readOptions(line.sliced(at + StartMarker.size()), block);
            !word.isEmpty())
            m_found.problems.append(
                {i, QStringLiteral("unknown word \"%1\" after \"varnel: sorted\"").arg(word)});
        m_open = block;
    } else if (line.contains(EndMarker)) {
        if (!m_open)
            m_found.problems.append(
                {i, QStringLiteral("\"varnel: end\" without a \"varnel: sorted\" before it")});
        else
            close(i);
    }
}

void BlockMarkers::close(qsizetype end) {
    m_open->end = end;
    m_found.blocks.append(*m_open);
    m_open.reset();
}

SortedBlocks BlockMarkers::finish(qsizetype lineCount) {
    if (m_open)
        close(lineCount);
    // Which lines a block would hold is then a guess: none is used.
    if (!m_found.problems.isEmpty())
        m_found.blocks.clear();
    return std::exchange(m_found, {});
}

SortedBlocks findSortedBlocks(const BlockLines& lines) {
    BlockMarkers markers;
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (holdsBlockMarker(lines[i]))
            markers.take(i, lines[i]);
    SortedBlocks found = markers.finish(lines.size());
    for (SortedBlock& block : found.blocks)
        BlockReader(lines, block).read();
    return found;
}

WholeLineItems::WholeLineItems(const SortedBlock& block)
    : m_leader(block.leader.toUtf8())
    , m_leaderStart(m_leader.isEmpty() ? 0 : uchar(m_leader.front()))
    , m_groupsAcross(block.groupsAcross) {}

WholeLineItems::WholeLineItems(const SortedBlock& block, qsizetype firstIndent)
    : WholeLineItems(block) {
    m_fromFirstLine = false;
    m_indent = firstIndent;
}

void WholeLineItems::append(const WholeLineItems& later) {
    m_hold = m_hold && later.m_hold;
    if (later.m_lines == 0)
        return;
    m_commasBeforeLast =
        m_commasBeforeLast && (m_lines == 0 || m_lastComma) && later.m_commasBeforeLast;
    m_lastComma = later.m_lastComma;
    m_lines += later.m_lines;
}

void WholeLineItems::takeSetIn(QByteArrayView line) {
    // As the reader above judges a line: its blanks, then the first character that is not
    // one. Spaces beyond a blank and the tab, rare at a line's start, are left to it.
    qsizetype indent = 0;
    while (indent < line.size() && (line[indent] == ' ' || line[indent] == '\t'))
        ++indent;
    if (indent == line.size()) {
        // Blank: a group's end, or else an item like any other, set in by nothing.
        if (!m_groupsAcross)
            m_hold = false;
        endItem(line);
        return;
    }
    const auto first = uchar(line[indent]);
    // Every space beyond ASCII starts with one of these bytes; other letters are not decoded.
    // Of ASCII, the blank and the tab were passed; the others are LF to CR.
    const bool space =
        first == 0xC2 || (first >= 0xE1 && first <= 0xE3)
            ? QString::fromUtf8(line.sliced(indent, std::min<qsizetype>(3, line.size() - indent)))
                  .front()
                  .isSpace()
            : first >= '\n' && first <= '\r';
    const QByteArrayView rest = line.sliced(indent);
    const bool comment =
        !m_leader.isEmpty() && rest.size() >= m_leader.size() && rest[0] == m_leader[0] &&
        std::memcmp(rest.data(), m_leader.constData(), size_t(m_leader.size())) == 0;
    const bool firstLine = m_fromFirstLine && m_lines == 1;
    if (space || comment || (!firstLine && indent > m_indent)) {
        m_hold = false;
        return;
    }
    if (firstLine)
        m_indent = indent;
    endItem(line);
}

qsizetype WholeLineItems::firstIndentOf(QByteArrayView lines) {
    QByteArrayView line;
    LineCuts cuts;
    cutLines(lines.data(), lines.size(), true, cuts,
             [&](qsizetype from, qsizetype length, qsizetype) {
                 line = lines.sliced(from, length);
                 return false;
             });
    qsizetype indent = 0;
    while (indent < line.size() && (line[indent] == ' ' || line[indent] == '\t'))
        ++indent;
    return indent < line.size() ? indent : 0;
}

bool WholeLineItems::hold() const {
    // The shape that takes the commas out of what is compared.
    const bool commas = m_lines >= 2 && m_commasBeforeLast && !m_lastComma;
    return m_hold && !commas;
}

} // namespace varnel
