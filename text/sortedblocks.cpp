#include "sortedblocks.h"

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
    return line.contains(u"varnel:");
}

SortedBlocks findSortedBlocks(const BlockLines& lines) {
    SortedBlocks found;
    std::optional<SortedBlock> open;
    const auto close = [&](qsizetype end) {
        open->end = end;
        found.blocks.append(*open);
        open.reset();
    };
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringView line = lines[i];
        if (!holdsBlockMarker(line))
            continue;
        if (const qsizetype at = line.indexOf(StartMarker); at >= 0) {
            if (open) {
                found.problems.append(
                    {i, QStringLiteral("\"varnel: sorted\" before the block that starts on line "
                                       "%1 has ended")
                            .arg(open->marker + 1)});
                continue;
            }
            SortedBlock block;
            block.marker = i;
            block.first = i + 1;
            block.leader = line.first(line.indexOf(u"varnel:")).trimmed().toString();
            if (const QString word = readOptions(line.sliced(at + StartMarker.size()), block);
                !word.isEmpty())
                found.problems.append(
                    {i, QStringLiteral("unknown word \"%1\" after \"varnel: sorted\"").arg(word)});
            open = block;
        } else if (line.contains(EndMarker)) {
            if (!open)
                found.problems.append(
                    {i, QStringLiteral("\"varnel: end\" without a \"varnel: sorted\" before it")});
            else
                close(i);
        }
    }
    if (open)
        close(lines.size());
    // Which lines a block would hold is then a guess: none is used.
    if (!found.problems.isEmpty()) {
        found.blocks.clear();
        return found;
    }
    for (SortedBlock& block : found.blocks)
        BlockReader(lines, block).read();
    return found;
}

} // namespace varnel
