#pragma once

#include <QByteArrayView>
#include <QtGlobal>

namespace varnel {

class CollationKeys;
class PairWalk;
struct SortedBlock;

// Two neighbouring lines the pair test of "Start Extracting Lines" picks out.
struct LinePair {
    bool repeat = false;    // equal once lowered, rather than out of order
    qint64 lowerNumber = 0; // the lower line's number, from 1
    QByteArrayView upper;
    QByteArrayView lower;
};

// How a text is shared out; the defaults suit the program, tests ask for the rest.
struct LinePairTuning {
    // A text shorter than this is one share, for one thread: a second costs more to start.
    qsizetype smallestShared = qsizetype(1) << 20;
    // The shares a longer text is cut into, about as long as each other, which the two
    // threads take in turn: lines differ in the work they take, and with many shares neither
    // thread waits long for the other.
    int shares = 16;
    // Or shares of about this many bytes, if not 0.
    qsizetype shareSize = 0;
    // Bytes checked for UTF-8 at a time, just ahead of the lines cut from them.
    qsizetype checkedAhead = qsizetype(1) << 17;
    // The most pairs all shares keep before they only check the rest of their bytes,
    // leaving their other lines to be cut once the shares before them are given: memory
    // stays bounded when nearly every line is out of order.
    qsizetype mostKept = qsizetype(1) << 20;
};

// Who takes the pairs found, in order. They may come before the whole text is known to be
// UTF-8 while the taker says it takes them ahead; it is then told, once, whether they stand.
// What it throws ends the search and comes out of findUtf8LinePairs.
class LinePairTaker {
public:
    virtual ~LinePairTaker() = default;
    virtual void take(const LinePair& pair) = 0;
    virtual bool takesAhead() const { return false; }
    // When the pairs taken ahead do not stand, they are to be forgotten.
    virtual void settle(bool stand) { Q_UNUSED(stand); }
};

// Gives `taker` the pairs of a whole text in memory, exactly as a LineStream reading it
// gives them and streamLinesSortAfter (with `repeats`, its reverse too) judges them, the
// text's shares walked by both threads of `walk`. Only UTF-8 without a mark is taken: for
// any other text it returns false, and the stream, which decides every encoding, reads it.
bool findUtf8LinePairs(PairWalk& walk, QByteArrayView text, bool repeats, LinePairTaker& taker,
                       const LinePairTuning& tuning = {});
// The same for `lines`, the bytes of a sorted `block` (a block starts after its marker line,
// so never with a mark), each line read for its shape as it is cut: they stand, and true
// comes back, only when every line is an item compared whole (WholeLineItems) and none
// holds "varnel:".
bool findUtf8BlockLinePairs(PairWalk& walk, QByteArrayView lines, const SortedBlock& block,
                            bool repeats, LinePairTaker& taker, const LinePairTuning& tuning = {});
// The same in the order `collation` collates in, as a check in a locale's order judges a pair
// on UTF-8; false too when the collator did not open.
bool findUtf8LinePairs(PairWalk& walk, QByteArrayView text, const CollationKeys& collation,
                       bool repeats, LinePairTaker& taker, const LinePairTuning& tuning = {});

} // namespace varnel
