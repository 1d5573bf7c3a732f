#pragma once

#include "core/sidethread.h"

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

namespace varnel {

// The two threads that walk the neighbouring pairs of a source of lines cut into pieces:
// the calling one and one aside, which waits between walks for the walker's whole life, so
// that a walk made again and again (the window's, between two turns of the event loop)
// starts no thread each time. The source decides what a piece is and what it finds; the
// walk hands the pieces out, each to one thread, stops them, and gives them back in order.
class PairWalk {
public:
    // The thread aside starts with the first walk of two pieces or more.
    PairWalk() = default;
    ~PairWalk();
    PairWalk(const PairWalk&) = delete;
    PairWalk& operator=(const PairWalk&) = delete;

    // Whether a second thread is to be had (the first ask starts it): without one, the
    // calling thread walks every piece.
    bool hasSecondThread();

    struct Outcome {
        qsizetype given = 0;  // the pieces taken ahead, the first ones
        bool stopped = false; // a piece said stop or threw: the pieces after it may be unwalked
        std::exception_ptr failure; // what the first piece or taker to throw threw
    };

    // Walks pieces 0 to count - 1, each once, on either thread: walk(k) returns false to end
    // the walk, whose pieces already begun still end. Between the pieces it walks, and then
    // while the other thread ends its own, the calling thread offers the pieces walked, in
    // order, to `ahead`, which returns whether it took the piece; it is offered none after a
    // stop. Returns when no thread walks a piece any more: only then may the source change.
    Outcome walk(qsizetype count, const std::function<bool(qsizetype)>& walk,
                 const std::function<bool(qsizetype)>& ahead = {});

private:
    struct Round;
    void runAside();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::shared_ptr<Round> m_round;        // the latest, under m_mutex
    quint64 m_posted = 0;                  // rounds posted, under m_mutex
    std::atomic<quint64> m_postedSeen = 0; // the same, read without the lock while waiting
    bool m_stop = false;
    bool m_started = false; // a thread aside was asked for
    SideThread m_thread;
};

} // namespace varnel
