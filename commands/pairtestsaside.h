#pragma once

#include "core/sidethread.h"

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace varnel {

class LineListModel;

// The pair tests of a stretch of a list, shared between the calling thread and one thread
// aside, for a walk over millions of lines that has two cores. The thread aside reads the
// list only while test() runs: the list may change in the next turn of the event loop, so
// the answers are for the walk to take before that turn, never after it.
class PairTestsAside {
public:
    // Bits of answers per piece of a stretch that one thread takes at a time: a cache line.
    static constexpr qsizetype PieceLength = 512;

    // Without a thread to be had, isAvailable() is false.
    PairTestsAside();
    ~PairTestsAside();
    PairTestsAside(const PairTestsAside&) = delete;
    PairTestsAside& operator=(const PairTestsAside&) = delete;

    bool isAvailable() const { return m_thread.joinable(); }

    // Tests the positions from `first` + 1 on to `last` of `list` (1 <= first < last <=
    // count()), for at most about `time`: a list of long lines may take longer than its
    // length suggests. Returns the last position tested (`first` for none); bit p - first -
    // 1 of answers() is set when line p - 1 sorts after line p.
    qsizetype test(const LineListModel& list, qsizetype first, qsizetype last,
                   std::chrono::microseconds time);
    const std::vector<quint64>& answers() const { return m_answers; }

private:
    struct Stretch;
    void runAside();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::shared_ptr<Stretch> m_stretch;    // the latest, under m_mutex
    quint64 m_posted = 0;                  // stretches posted, under m_mutex
    std::atomic<quint64> m_postedSeen = 0; // the same, read without the lock while waiting
    bool m_stop = false;
    std::vector<quint64> m_answers;
    SideThread m_thread;
};

} // namespace varnel
