#include "pairtestsaside.h"

#include "lists/linelistmodel.h"
#include "order/linesortsafter.h"

#include <algorithm>
#include <limits>
#include <system_error>
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

// Waits before the thread aside sleeps: the walk posts its next stretch within microseconds,
// unless it is turning the event loop.
constexpr int SpinsBeforeSleep = 4000;

// Characters of lines tested between two looks at the clock, besides the look at the end of
// each piece.
constexpr qsizetype CharactersPerLook = 1 << 16;

// Bytes ahead of the line being tested that are asked for early.
constexpr qsizetype PrefetchDistance = 512;

} // namespace

struct PairTestsAside::Stretch {
    static constexpr qsizetype Closed = std::numeric_limits<qsizetype>::max() / 2;

    const LineListModel* list = nullptr;
    qsizetype first = 0;
    qsizetype last = 0;
    qsizetype pieces = 0;
    std::chrono::steady_clock::time_point deadline;
    std::atomic<qsizetype> next = 0; // the next piece to take
    std::atomic<qsizetype> done = 0; // pieces taken and ended
    std::atomic<bool> late = false;
    std::vector<quint64> answers;
    std::vector<qsizetype> testedTo; // by piece, its last position tested

    qsizetype pieceStart(qsizetype piece) const { return first + 1 + piece * PieceLength; }
    qsizetype pieceEnd(qsizetype piece) const {
        return std::min(last, pieceStart(piece) + PieceLength - 1);
    }

    // Takes pieces until none is left or the time is up.
    void work() {
        for (qsizetype piece; !late.load(std::memory_order_relaxed) &&
                              (piece = next.fetch_add(1, std::memory_order_relaxed)) < pieces;) {
            try {
                testPiece(piece);
            } catch (...) {
                late.store(true, std::memory_order_relaxed); // what it tested still holds
            }
            done.fetch_add(1, std::memory_order_release);
        }
    }

    void testPiece(qsizetype piece) {
        const qsizetype from = pieceStart(piece);
        quint64* bits = answers.data() + piece * (PieceLength / 64);
        LineText above;
        qsizetype characters = 0;
        list->visitTexts(from - 1, pieceEnd(piece), [&](qsizetype position, LineText below) {
            const LineText upper = std::exchange(above, below);
            if (position < from)
                return true;
            // A loaded list's lines lie one after the other: the memory a few lines on is
            // asked for before the test needs it. Asking never faults, wherever it points.
            __builtin_prefetch(below.bytes() + PrefetchDistance);
            if (lineSortsAfter(upper, below)) {
                const qsizetype bit = position - from;
                bits[bit / 64] |= quint64(1) << (bit % 64);
            }
            testedTo[size_t(piece)] = position;
            characters += below.size();
            if (characters < CharactersPerLook)
                return true;
            characters = 0;
            if (std::chrono::steady_clock::now() < deadline)
                return true;
            late.store(true, std::memory_order_relaxed);
            return false;
        });
        if (std::chrono::steady_clock::now() >= deadline)
            late.store(true, std::memory_order_relaxed);
    }

    // The last position of the pieces tested whole from the first on, and of the tested
    // beginning of the one after them.
    qsizetype testedUpTo(qsizetype taken) const {
        qsizetype reached = first;
        for (qsizetype piece = 0; piece < taken; ++piece) {
            reached = testedTo[size_t(piece)];
            if (reached != pieceEnd(piece))
                break;
        }
        return reached;
    }
};

PairTestsAside::PairTestsAside() {
    try {
        m_thread = SideThread([this] { runAside(); });
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

qsizetype PairTestsAside::test(const LineListModel& list, qsizetype first, qsizetype last,
                               std::chrono::microseconds time) {
    auto stretch = std::make_shared<Stretch>();
    stretch->list = &list;
    stretch->first = first;
    stretch->last = last;
    stretch->pieces = (last - first + PieceLength - 1) / PieceLength;
    stretch->deadline = std::chrono::steady_clock::now() + time;
    stretch->answers.assign(size_t(stretch->pieces * (PieceLength / 64)), 0);
    stretch->testedTo.resize(size_t(stretch->pieces));
    for (qsizetype piece = 0; piece < stretch->pieces; ++piece)
        stretch->testedTo[size_t(piece)] = stretch->pieceStart(piece) - 1;
    {
        const std::lock_guard lock(m_mutex);
        m_stretch = stretch;
        ++m_posted;
        m_postedSeen.store(m_posted, std::memory_order_release);
    }
    m_wake.notify_one();
    stretch->work();
    // No piece is taken from here on; the thread aside ends those it took. It may have been
    // put off meanwhile, so the wait gives way to it now and then.
    const qsizetype taken = std::min(
        stretch->next.exchange(Stretch::Closed, std::memory_order_relaxed), stretch->pieces);
    for (int spin = 0; stretch->done.load(std::memory_order_acquire) < taken; ++spin) {
        if (spin % 64 == 63)
            std::this_thread::yield();
        else
            pause();
    }
    m_answers = std::move(stretch->answers);
    return stretch->testedUpTo(taken);
}

} // namespace varnel
