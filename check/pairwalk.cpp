#include "pairwalk.h"

#include <algorithm>
#include <limits>
#include <system_error>
#include <thread>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

namespace {

inline void pause() {
#if defined(__SSE2__)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

// Looks before a thread sleeps: the window posts its next walk within microseconds unless
// it is turning the event loop, and the other thread's last piece is mostly as near its end.
constexpr int SpinsBeforeSleep = 4000;

} // namespace

struct PairWalk::Round {
    // What `next` becomes once no piece is to be taken: a late look finds none left.
    static constexpr qsizetype Closed = std::numeric_limits<qsizetype>::max() / 2;

    Round(qsizetype count, const std::function<bool(qsizetype)>& walk)
        : count(count)
        , walk(&walk)
        , done(std::make_unique<std::atomic<bool>[]>(size_t(count))) {}

    const qsizetype count;
    // Called only for a piece taken before the round closed, while walk() still waits.
    const std::function<bool(qsizetype)>* const walk;
    std::atomic<qsizetype> next = 0;
    std::atomic<bool> stop = false;
    const std::unique_ptr<std::atomic<bool>[]> done;
    std::mutex failureMutex;
    std::exception_ptr failure;

    void fail(std::exception_ptr thrown) {
        {
            const std::lock_guard lock(failureMutex);
            if (!failure)
                failure = std::move(thrown);
        }
        stop.store(true, std::memory_order_relaxed);
    }

    // Walks the next piece no thread has taken; false when none is left or the round stopped.
    bool walkNext() {
        if (stop.load(std::memory_order_relaxed))
            return false;
        const qsizetype k = next.fetch_add(1, std::memory_order_relaxed);
        if (k >= count)
            return false;
        try {
            if (!(*walk)(k))
                stop.store(true, std::memory_order_relaxed);
        } catch (...) {
            fail(std::current_exception());
        }
        // Marked even when it threw, so that no one waits for it forever.
        done[size_t(k)].store(true, std::memory_order_release);
        done[size_t(k)].notify_one();
        return true;
    }

    bool isDone(qsizetype k) const { return done[size_t(k)].load(std::memory_order_acquire); }

    // The other thread may have been put off: the wait gives way to it now and then, and
    // sleeps when it is long.
    void waitFor(qsizetype k) const {
        for (int spin = 0; !isDone(k); ++spin) {
            if (spin >= SpinsBeforeSleep)
                done[size_t(k)].wait(false, std::memory_order_acquire);
            else if (spin % 64 == 63)
                std::this_thread::yield();
            else
                pause();
        }
    }
};

PairWalk::~PairWalk() {
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
        m_postedSeen.store(m_posted + 1, std::memory_order_release);
    }
    m_wake.notify_one();
    m_thread.join();
}

bool PairWalk::hasSecondThread() {
    if (!std::exchange(m_started, true)) {
        try {
            m_thread = SideThread([this] { runAside(); });
        } catch (const std::system_error&) {
            // The calling thread walks every piece.
        }
    }
    return m_thread.joinable();
}

void PairWalk::runAside() {
    quint64 seen = 0;
    for (;;) {
        for (int spin = 0;
             spin < SpinsBeforeSleep && m_postedSeen.load(std::memory_order_acquire) == seen;
             ++spin)
            pause();
        std::shared_ptr<Round> round;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || m_posted != seen; });
            if (m_stop)
                return;
            seen = m_posted;
            round = m_round;
        }
        // A round whose pieces were all taken meanwhile costs one look.
        while (round->walkNext()) {
        }
    }
}

PairWalk::Outcome PairWalk::walk(qsizetype count, const std::function<bool(qsizetype)>& walk,
                                 const std::function<bool(qsizetype)>& ahead) {
    Outcome outcome;
    if (count <= 0)
        return outcome;
    const auto round = std::make_shared<Round>(count, walk);
    if (count > 1 && hasSecondThread()) {
        {
            const std::lock_guard lock(m_mutex);
            m_round = round;
            ++m_posted;
            m_postedSeen.store(m_posted, std::memory_order_release);
        }
        m_wake.notify_one();
    }
    // Offers the pieces walked, in order; with `upTo`, waits for each below it.
    const auto offer = [&](qsizetype upTo) {
        try {
            while (ahead && outcome.given < count && !round->stop.load(std::memory_order_relaxed)) {
                if (outcome.given < upTo)
                    round->waitFor(outcome.given);
                else if (!round->isDone(outcome.given))
                    return;
                // The piece may have been the one to stop.
                if (round->stop.load(std::memory_order_relaxed) || !ahead(outcome.given))
                    return;
                ++outcome.given;
            }
        } catch (...) {
            round->fail(std::current_exception());
        }
    };
    do
        offer(0);
    while (round->walkNext());
    // No piece is taken from here on; the thread aside ends those it took.
    const qsizetype taken =
        std::min(round->next.exchange(Round::Closed, std::memory_order_relaxed), count);
    offer(taken);
    for (qsizetype k = outcome.given; k < taken; ++k)
        round->waitFor(k);
    outcome.stopped = round->stop.load(std::memory_order_relaxed);
    outcome.failure = round->failure;
    return outcome;
}

} // namespace varnel
