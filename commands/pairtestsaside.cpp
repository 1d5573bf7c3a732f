#include "pairtestsaside.h"

#include "lists/linelistmodel.h"
#include "order/linesortsafter.h"

#include <algorithm>
#include <system_error>

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

// Waits before the thread aside sleeps: the walk posts its next stretch within microseconds,
// unless it is turning the event loop.
constexpr int SpinsBeforeSleep = 4000;

} // namespace

struct PairTestsAside::Stretch {
    const LineListModel* list = nullptr;
    qsizetype first = 0;
    qsizetype last = 0;
    qsizetype pieces = 0;
    std::atomic<qsizetype> next = 0; // the next piece to take
    std::atomic<qsizetype> done = 0; // pieces tested or given up
    std::atomic<bool> failed = false;
    std::vector<quint64> answers;

    // Takes pieces until none is left; whoever posted the stretch waits for all of them.
    void work() {
        for (qsizetype piece; (piece = next.fetch_add(1, std::memory_order_relaxed)) < pieces;) {
            try {
                testPiece(piece);
            } catch (...) {
                failed.store(true, std::memory_order_relaxed);
            }
            done.fetch_add(1, std::memory_order_release);
        }
    }

    void testPiece(qsizetype piece) {
        const qsizetype from = first + 1 + piece * PieceLength;
        const qsizetype to = std::min(last, from + PieceLength - 1);
        quint64* bits = answers.data() + piece * (PieceLength / 64);
        LineText above;
        list->visitTexts(from - 1, to, [&](qsizetype position, LineText below) {
            if (position >= from && lineSortsAfter(above, below)) {
                const qsizetype bit = position - first - 1;
                bits[(bit % PieceLength) / 64] |= quint64(1) << (bit % 64);
            }
            above = below;
            return true;
        });
    }
};

PairTestsAside::PairTestsAside() {
    try {
        m_thread = std::thread([this] { runAside(); });
    } catch (const std::system_error&) {
        // The calling thread makes every test.
    }
}

PairTestsAside::~PairTestsAside() {
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

void PairTestsAside::runAside() {
    quint64 seen = 0;
    for (;;) {
        for (int spin = 0;
             spin < SpinsBeforeSleep && m_postedSeen.load(std::memory_order_acquire) == seen;
             ++spin)
            pause();
        std::shared_ptr<Stretch> stretch;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || m_posted != seen; });
            if (m_stop)
                return;
            seen = m_posted;
            stretch = m_stretch;
        }
        // A stretch whose pieces were all taken meanwhile costs one look.
        stretch->work();
    }
}

const std::vector<quint64>& PairTestsAside::test(const LineListModel& list, qsizetype first,
                                                 qsizetype last) {
    auto stretch = std::make_shared<Stretch>();
    stretch->list = &list;
    stretch->first = first;
    stretch->last = last;
    stretch->pieces = (last - first + PieceLength - 1) / PieceLength;
    stretch->answers.assign(size_t(stretch->pieces * (PieceLength / 64)), 0);
    {
        const std::lock_guard lock(m_mutex);
        m_stretch = stretch;
        ++m_posted;
        m_postedSeen.store(m_posted, std::memory_order_release);
    }
    m_wake.notify_one();
    stretch->work();
    // The thread aside finishes the pieces it took; it may have been put off meanwhile, so
    // the wait gives way to it now and then.
    for (int spin = 0; stretch->done.load(std::memory_order_acquire) < stretch->pieces; ++spin) {
        if (spin % 64 == 63)
            std::this_thread::yield();
        else
            pause();
    }
    m_answers = std::move(stretch->answers);
    if (stretch->failed.load(std::memory_order_relaxed))
        m_answers.clear();
    return m_answers;
}

} // namespace varnel
