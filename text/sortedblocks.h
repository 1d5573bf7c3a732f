#pragma once

#include "order/lineorder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// Sorted blocks inside a file of any kind: a line holding "varnel: sorted" starts one on the
// next line, the next line holding "varnel: end" ends it (the end of the file, when none
// does). Only the lines' texts are read, so the check and the sort find the same blocks
// whatever encoding a file came in.

namespace varnel {

// One entry of a block: the comment lines attached above it, its first line, and the lines
// more indented that continue it. Line numbers count from 0.
struct BlockItem {
    qsizetype first = 0;    // its first line: an attached comment, or the compared line
    qsizetype compared = 0; // the line it is compared by
    qsizetype last = 0;     // its last line, a continuation or the compared line
    // Of the compared line's text, what is compared: without the group's closing comma.
    qsizetype comparedLength = 0;
};

// Items between blank lines (the whole block, with groups=no).
struct BlockGroup {
    QList<BlockItem> items;
    // Comment lines after the last item, which stay at the group's end: [trailingFirst,
    // trailingEnd), empty when none.
    qsizetype trailingFirst = 0;
    qsizetype trailingEnd = 0;
    // Every item but the last ends with a comma and the last does not: the sort keeps that
    // shape. The comma of an item is the last character of its last line but blanks.
    bool commas = false;
};

struct SortedBlock {
    qsizetype marker = 0; // the "varnel: sorted" line
    qsizetype first = 0;  // its first line
    qsizetype end = 0;    // past its last: the "varnel: end" line, or the number of lines
    QString leader;       // the text before "varnel:" on its marker, trimmed
    // What the marker asks; the command line's options stand where it asks nothing.
    std::optional<LineOrder::Rule> rule;
    bool numeric = false;
    bool unique = false;
    bool groupsAcross = false; // groups=no: blank lines are items like any other
    QList<BlockGroup> groups;

    // The order the block is checked and sorted in, over the command line's `given`.
    LineOrder orderOver(LineOrder given) const {
        given.rule = rule.value_or(given.rule);
        given.numeric = given.numeric || numeric;
        return given;
    }
};

// A marker that cannot be followed: the file's blocks are then not known.
struct MarkerProblem {
    qsizetype line = 0;
    QString message;
};

struct SortedBlocks {
    QList<SortedBlock> blocks;
    QList<MarkerProblem> problems; // where there are any, no block is given
};

// The blocks of a file's lines, in the file's order. A file without markers has none.
using BlockLines = QList<QStringView>;
SortedBlocks findSortedBlocks(const BlockLines& lines);

// Whether a line holds a marker at all: the quick test before anything else is read.
bool holdsBlockMarker(QStringView line);

// Follows the markers of a file, given only its lines that hold one: where its blocks start
// and end, what they ask, and what cannot be followed. Their groups and items are not read.
class BlockMarkers {
public:
    // The line numbered `i` (from 0), which holds "varnel:"; lines are taken in order.
    void take(qsizetype i, QStringView line);
    bool isOpen() const { return m_open.has_value(); }
    const SortedBlock& open() const { return *m_open; }
    // The blocks once every line was seen: the last runs to the end when it is still open.
    SortedBlocks finish(qsizetype lineCount);

private:
    void close(qsizetype end);

    SortedBlocks m_found;
    std::optional<SortedBlock> m_open;
};

// An item's text as it is compared.
inline QStringView comparedText(const BlockLines& lines, const BlockItem& item) {
    return lines[item.compared].first(item.comparedLength);
}

// Whether a block's lines, given one by one as UTF-8, are each an item of its own compared
// whole: one group, no comment, nothing set in further than the first line, no closing
// commas. Such a block is checked as a plain list of lines would be. The answer errs only
// towards no: a line it cannot judge from its bytes alone (one that starts with a space
// other than a blank, say) makes it no.
class WholeLineItems {
public:
    explicit WholeLineItems(const SortedBlock& block);
    // For a later part of the block's lines, read apart: the block's first line is set in
    // by `firstIndent` blanks.
    WholeLineItems(const SortedBlock& block, qsizetype firstIndent);
    void take(QByteArrayView line) {
        ++m_lines;
        if (!m_hold)
            return;
        // Most lines start with a letter of ASCII: neither blank, nor comment, nor set in.
        const uchar first = line.isEmpty() ? 0 : uchar(line.front());
        if (first > ' ' && first < 0x80 && first != m_leaderStart)
            endItem(line);
        else
            takeSetIn(line);
    }
    // The lines of `later`, the part that follows these, as if taken here.
    void append(const WholeLineItems& later);
    // For the lines taken so far, as the block's whole.
    bool hold() const;
    // Whether nothing taken so far rules it out, whatever follows: only the commas are
    // left to the whole.
    bool mayHold() const { return m_hold; }
    // The blanks that set in the first line of a block's `lines`: 0 when it is blank (a
    // blank item is set in by nothing).
    static qsizetype firstIndentOf(QByteArrayView lines);
    qsizetype lines() const { return m_lines; }

private:
    void takeSetIn(QByteArrayView line);
    void endItem(QByteArrayView line) {
        qsizetype end = line.size();
        while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t'))
            --end;
        m_commasBeforeLast = m_commasBeforeLast && (m_lines == 1 || m_lastComma);
        m_lastComma = end > 0 && line[end - 1] == ',';
    }

    QByteArray m_leader;
    uchar m_leaderStart = 0; // its first byte, 0 when there is none
    bool m_groupsAcross;
    bool m_fromFirstLine = true; // the first line taken is the block's first
    bool m_hold = true;
    qsizetype m_lines = 0;
    qsizetype m_indent = 0;         // the block's first line's
    bool m_commasBeforeLast = true; // every line taken but the last ends with a comma
    bool m_lastComma = false;
};

} // namespace varnel
