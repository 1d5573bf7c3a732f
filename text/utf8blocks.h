#pragma once

#include "sortedblocks.h"

#include <QByteArrayView>

#include <vector>

namespace varnel {

// The blocks of a UTF-8 text, found in one pass over its bytes for a check that compares
// their lines in place, without reading them into lines of their own.
struct Utf8Blocks {
    struct Span {
        qsizetype from = 0; // the block's first line, in the text
        qsizetype to = 0;   // past its last line's break
        // Its lines are each an item compared whole (WholeLineItems).
        bool wholeLines = false;
    };
    SortedBlocks markers;    // the blocks' places and options; their groups are not read
    std::vector<Span> spans; // one for each block
    // The bytes outside the blocks, and those of every block but the last, are UTF-8: the
    // last is left for the check that reads it. A text that names no marker at all is not
    // read further, and counts as UTF-8: none of it is compared.
    bool utf8 = false;
};

Utf8Blocks findUtf8Blocks(QByteArrayView text);

} // namespace varnel
