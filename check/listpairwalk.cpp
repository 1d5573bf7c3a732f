#include "listpairwalk.h"

#include <utility>

namespace varnel {

namespace {

// Characters of lines tested between two looks at the clock, besides the look at the end of
// each piece.
constexpr qsizetype CharactersPerLook = 1 << 16;

// Bytes ahead of the line being tested that are asked for early.
constexpr qsizetype PrefetchDistance = 512;

// A run's pieces, as both threads read and write them.
struct Stretch {
    const LineListModel& list;
    qsizetype from;
    qsizetype last;
    std::chrono::steady_clock::time_point deadline;
    quint64* answers;
    qsizetype* testedTo;

    qsizetype pieceStart(qsizetype piece) const {
        return from + 1 + piece * ListPairWalk::PieceLength;
    }
    qsizetype pieceEnd(qsizetype piece) const {
        return std::min(last, pieceStart(piece) + ListPairWalk::PieceLength - 1);
    }

    // Tests a piece; false when the time is up.
    bool test(qsizetype piece) const {
        const qsizetype start = pieceStart(piece);
        quint64* bits = answers + piece * (ListPairWalk::PieceLength / 64);
        LineText above;
        qsizetype characters = 0;
        bool late = false;
        list.visitTexts(start - 1, pieceEnd(piece), [&](qsizetype position, LineText below) {
            const LineText upper = std::exchange(above, below);
            if (position < start)
                return true;
            // A loaded list's lines lie one after the other: the memory a few lines on is
            // asked for before the test needs it. Asking never faults, wherever it points.
            __builtin_prefetch(below.bytes() + PrefetchDistance);
            if (lineSortsAfter(upper, below)) {
                const qsizetype bit = position - start;
                bits[bit / 64] |= quint64(1) << (bit % 64);
            }
            testedTo[piece] = position;
            characters += below.size();
            if (characters < CharactersPerLook)
                return true;
            characters = 0;
            late = std::chrono::steady_clock::now() >= deadline;
            return !late;
        });
        return !late && std::chrono::steady_clock::now() < deadline;
    }

    // The last position of the pieces tested whole from the first on, and of the tested
    // beginning of the one after them.
    qsizetype testedUpTo(qsizetype pieces) const {
        qsizetype reached = from;
        for (qsizetype piece = 0; piece < pieces; ++piece) {
            reached = testedTo[piece];
            if (reached != pieceEnd(piece))
                break;
        }
        return reached;
    }
};

} // namespace

qsizetype ListPairWalk::testShared(qsizetype from, qsizetype last) {
    const qsizetype pieces = (last - from + PieceLength - 1) / PieceLength;
    m_answers.assign(size_t(pieces * (PieceLength / 64)), 0);
    m_testedTo.resize(size_t(pieces));
    const Stretch stretch{m_list,
                          from,
                          last,
                          std::chrono::steady_clock::now() + 2 * m_tuning.runTime,
                          m_answers.data(),
                          m_testedTo.data()};
    for (qsizetype piece = 0; piece < pieces; ++piece)
        m_testedTo[size_t(piece)] = stretch.pieceStart(piece) - 1;
    // A piece that throws ends the run where it failed: what was tested before still holds.
    m_walk.walk(pieces, [&stretch](qsizetype piece) { return stretch.test(piece); });
    return stretch.testedUpTo(pieces);
}

qsizetype ListPairWalk::nextRun(qsizetype run, std::chrono::steady_clock::duration took) const {
    const auto micros =
        std::max<qint64>(1, std::chrono::duration_cast<std::chrono::microseconds>(took).count());
    const qint64 scaled = run * m_tuning.runTime.count() / micros;
    // Changes by at most half or double at a time: one run the system put off says little.
    return std::clamp<qint64>(scaled, std::max<qint64>(PieceLength, run / 2),
                              std::min<qint64>(qint64(1) << 20, run * 2));
}

} // namespace varnel
