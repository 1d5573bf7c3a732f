#pragma once

#include "sortedblocks.h"

#include <QByteArrayView>

#include <optional>
#include <vector>

namespace varnel {

// The blocks of a UTF-8 text, found in one pass over its bytes for a check that compares
// their lines in place, without reading them into lines of their own.
struct Utf8Blocks {
    struct Span {
        qsizetype from = 0; // the block's first line, in the text
        qsizetype to = 0;   // past its last line's break
        // Its lines are each an item compared whole (WholeLineItems); not known when the
        // block was left to the check.
        std::optional<bool> wholeLines;
    };
    SortedBlocks markers;    // the blocks' places and options; their groups are not read
    std::vector<Span> spans; // one for each block
    // The bytes outside the blocks and those of every block not left to the check are
    // UTF-8. A text that names no marker at all is not read further, and counts as UTF-8:
    // none of it is compared.
    bool utf8 = false;
};

// With `leaveOnlyBlock`, a text's only block is left to the check that reads it: neither its
// shape nor its bytes are read, nor are its lines counted: its end is -1 when it runs to the
// text's end. A block that the first marker opens is taken to run to the end, unsearched:
// the check must find no "varnel:" in it, or search the text again without leaving it. Where
// there
// are more, a check would find the last one's bytes not UTF-8, or its lines not whole, only
// after the findings of those before had gone out.
Utf8Blocks findUtf8Blocks(QByteArrayView text, bool leaveOnlyBlock = false);

// Where "varnel:" first starts in [from, to), or -1.
qsizetype findMarkerWord(QByteArrayView text, qsizetype from, qsizetype to);

} // namespace varnel
