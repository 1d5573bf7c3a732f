#pragma once

#include "sortedblocks.h"

#include <QStringView>

#include <functional>
#include <vector>

// What the check finds in a file's sorted blocks and where the sort puts their lines: the
// one judgement of a block's items, for every caller that reads a file's blocks.

namespace varnel {

// Two neighbouring items of a group that are out of order, or equal where repeats count.
struct BlockFinding {
    bool repeat = false;
    const BlockItem* upper = nullptr;
    const BlockItem* lower = nullptr;
};

// Gives `found` each finding of every block, in the file's order, until it returns false.
// `given` and `unique` are the caller's own; a block's marker adds to them.
void findBlockFindings(const BlockLines& lines, const SortedBlocks& blocks, const LineOrder& given,
                       bool unique, const std::function<bool(const BlockFinding&)>& found);

// A line in its sorted place.
struct PlacedLine {
    qsizetype line = 0; // the line that stands here
    // +1: a comma is added at its end; -1: its closing comma is taken away.
    int comma = 0;
    qsizetype breakOf = 0; // the line whose break follows it
};

struct BlockArrangement {
    std::vector<PlacedLine> lines; // a repeat left out has no place
    bool changed = false;
};

// Every line of the file in the order the sort writes it: only the lines of a block's items
// move, and each keeps its own break. `lastHasBreak` says whether the file's last line ends
// with one: moved up, a last line without a break takes the break of the line that comes
// last instead, which then goes without.
BlockArrangement arrangeSortedBlocks(const BlockLines& lines, const SortedBlocks& blocks,
                                     const LineOrder& given, bool unique, bool lastHasBreak);

// Where a line's closing comma is, or goes: before its trailing blanks, in characters from
// its start.
qsizetype commaPlace(QStringView line);

} // namespace varnel
