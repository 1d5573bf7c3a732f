#pragma once

#include "lists/linelistmodel.h"
#include "order/linesortsafter.h"
#include "pairwalk.h"

#include <QtGlobal>

#include <algorithm>
#include <bit>
#include <chrono>
#include <vector>

namespace varnel {

// How a list is walked; the defaults suit the window, tests ask for the rest.
struct ListPairTuning {
    // Lists shorter than this are walked on this thread alone: a thread costs more than
    // it saves.
    qsizetype sharedFrom = qsizetype(1) << 16;
    // How long a run on two threads takes, about: the window turns late by no more than
    // that, and each run pays for handing it out many times over.
    std::chrono::microseconds runTime{500};
};

// The pairs of a list, walked a run at a time between two turns of the event loop, which
// alone may change the list: "Start Extracting Lines" walks the list it holds when it starts.
// On a long list a run is longer than the quiet one the caller offers, its pairs tested in
// pieces on two threads, and it is as long as about half a millisecond of tests.
class ListPairWalk {
public:
    // Positions of a run that one thread takes at a time: their answers fill a cache line.
    static constexpr qsizetype PieceLength = 512;

    explicit ListPairWalk(const LineListModel& list, const ListPairTuning& tuning = {})
        : m_list(list)
        , m_count(list.count())
        , m_tuning(tuning) {
        // Started now, the thread aside is ready by the first run.
        if (m_count >= m_tuning.sharedFrom)
            m_walk.hasSecondThread();
    }

    // Walks the pairs from position `from` + 1 on, as far as `quiet` more positions (or a
    // longer run on two threads), the list's end and the end it had when the walk began
    // allow; calls found(p) for each p whose line p - 1 sorts after line p, in order, until
    // it returns false. Returns the last position walked, `from` for none.
    template <typename Found> qsizetype run(qsizetype from, qsizetype quiet, Found&& found) {
        const bool shared = m_count >= m_tuning.sharedFrom && m_walk.hasSecondThread();
        qsizetype last = std::min({m_count, m_list.count(), from + (shared ? m_run : quiet)});
        if (last <= from)
            return from;
        if (!shared) {
            LineText above = m_list.textView(from);
            qsizetype reached = last;
            m_list.visitTexts(from + 1, last, [&](qsizetype position, LineText below) {
                if (lineSortsAfter(above, below) && !found(position)) {
                    reached = position;
                    return false;
                }
                above = below;
                return true;
            });
            return reached;
        }
        const auto started = std::chrono::steady_clock::now();
        last = testShared(from, last);
        const qsizetype reached = forEachAnswer(from, last, found);
        m_run = nextRun(m_run, std::chrono::steady_clock::now() - started);
        return reached;
    }

private:
    // Tests the pairs from `from` + 1 to `last` on both threads, for about twice a run's time
    // at most: a list of long lines may take longer than its length suggests. Returns the
    // last position tested, past `from` (the first pair is always tested); bit p - from - 1
    // of m_answers is set when line p - 1 sorts after line p.
    qsizetype testShared(qsizetype from, qsizetype last);

    template <typename Found>
    qsizetype forEachAnswer(qsizetype from, qsizetype last, Found& found) {
        const qsizetype count = last - from;
        for (qsizetype w = 0; w * 64 < count; ++w) {
            const qsizetype past = std::max<qsizetype>(0, (w + 1) * 64 - count);
            for (quint64 word = m_answers[size_t(w)] & (~quint64(0) >> past); word != 0;
                 word &= word - 1) {
                const qsizetype position = from + 1 + w * 64 + std::countr_zero(word);
                if (!found(position))
                    return position;
            }
        }
        return last;
    }

    qsizetype nextRun(qsizetype run, std::chrono::steady_clock::duration took) const;

    const LineListModel& m_list;
    const qsizetype m_count;
    const ListPairTuning m_tuning;
    qsizetype m_run = PieceLength * 4; // of the next run on two threads
    std::vector<quint64> m_answers;
    std::vector<qsizetype> m_testedTo; // by piece, its last position tested
    PairWalk m_walk;
};

} // namespace varnel
