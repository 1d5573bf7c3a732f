#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <functional>

namespace varnel {

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
    qsizetype mostKept = qsizetype(1) << 21;
};

// Gives `take` the pairs of a whole text in memory, in order, exactly as a LineStream
// reading it gives them and streamLinesSortAfter (with `repeats`, its reverse too) judges
// them, using both cores. Only UTF-8 without a mark is taken: for any other text it returns
// false before giving anything, and the stream, which decides every encoding, reads it.
bool findUtf8LinePairs(QByteArrayView text, bool repeats,
                       const std::function<void(const LinePair&)>& take,
                       const LinePairTuning& tuning = {});

} // namespace varnel
