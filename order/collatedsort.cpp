#include "collatedsort.h"

#include "collation.h"
#include "core/failure.h"

#include <QCollator>

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <new>
#include <numeric>
#include <thread>

namespace varnel {

QCollator independentCollator(const QCollator& collator) {
    // A copy of a QCollator shares its ICU collator; one made afresh does not.
    QCollator own(collator.locale());
    own.setCaseSensitivity(collator.caseSensitivity());
    own.setNumericMode(collator.numericMode());
    own.setIgnorePunctuation(collator.ignorePunctuation());
    return own;
}

// The merge sort on one thread, with that thread's collator.
class CollatedSort::Sorter {
public:
    Sorter(Lines lines, const QCollator& collator, const std::atomic<bool>* stop,
           std::atomic<quint64>& compared)
        : m_lines(lines)
        , m_compare(collator)
        , m_stop(stop)
        , m_compared(compared) {}

    // Sorts the `count` indices at `items`; `scratch` holds the same indices on entry.
    void sort(quint32* items, quint32* scratch, size_t count) {
        if (count < 2)
            return;
        const size_t half = count / 2;
        sort(scratch, items, half);
        sort(scratch + half, items + half, count - half);
        merge(scratch, scratch + half, scratch + half, scratch + count, items);
    }

    // Merges two sorted runs into `out`; on equal lines the left run's come first.
    void merge(const quint32* left, const quint32* leftEnd, const quint32* right,
               const quint32* rightEnd, quint32* out) {
        if (left != leftEnd && right != rightEnd && after(leftEnd[-1], *right)) {
            // With one line on the left, that comparison was the merge's first one.
            if (leftEnd - left == 1)
                *out++ = *right++;
            // The left line is the comparison's first, so a line that stays for several
            // comparisons in a row is widened once (see CollatedComparison).
            while (left != leftEnd && right != rightEnd)
                *out++ = after(*left, *right) ? *right++ : *left++;
        }
        out = std::copy(left, leftEnd, out);
        std::copy(right, rightEnd, out);
    }

    // The first of the sorted indices in [first, last) whose line does not sort before
    // `key`'s.
    const quint32* lowerBound(const quint32* first, const quint32* last, quint32 key) {
        return std::partition_point(first, last, [&](quint32 item) { return after(key, item); });
    }

private:
    static constexpr unsigned PollEvery = 4096;

    bool after(quint32 a, quint32 b) {
        if (++m_sincePoll == PollEvery)
            poll();
        return m_compare(m_lines(a), m_lines(b)) > 0;
    }
    void poll() {
        m_compared.fetch_add(m_sincePoll, std::memory_order_relaxed);
        m_sincePoll = 0;
        if (m_stop && m_stop->load(std::memory_order_relaxed))
            throw ProgramEnding{};
    }

    Lines m_lines;
    CollatedComparison m_compare;
    const std::atomic<bool>* m_stop;
    std::atomic<quint64>& m_compared;
    unsigned m_sincePoll = 0;
};

namespace {

// Where the two threads wait for each other between sorting their halves and merging.
class Meeting {
public:
    // False when either side failed to get there.
    bool arrive(bool ready) {
        std::unique_lock lock(m_mutex);
        m_failed = m_failed || !ready;
        ++m_arrived;
        m_arrivals.notify_all();
        m_arrivals.wait(lock, [this] { return m_arrived == 2; });
        return !m_failed;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_arrivals;
    int m_arrived = 0;
    bool m_failed = false;
};

} // namespace

CollatedSort::CollatedSort(const QCollator& collator)
    : m_collator(collator) {}

double CollatedSort::progress() const {
    const quint64 expected = m_expected.load(std::memory_order_relaxed);
    if (expected == 0)
        return 0;
    return std::min(1.0, double(m_compared.load(std::memory_order_relaxed)) / double(expected));
}

std::vector<quint32> CollatedSort::orderOf(size_t count, Lines lines) {
    if (count > std::numeric_limits<quint32>::max())
        throw std::bad_alloc();
    m_compared = 0;
    // A merge sort compares at most about n log2 n times.
    m_expected = std::max<quint64>(1, quint64(count) * quint64(std::bit_width(count)));
    acquiring(SortResource::Memory);
    std::vector<quint32> order(count);
    std::iota(order.begin(), order.end(), 0u);
    std::vector<quint32> scratch(order);
    const auto finished = [this] { m_compared = m_expected.load(); };

    if (count < TwoThreadSize) {
        Sorter(lines, m_collator, m_stop, m_compared).sort(order.data(), scratch.data(), count);
        finished();
        return order;
    }
    acquiring(SortResource::Memory);
    QCollator second = independentCollator(m_collator);

    // Each thread sorts its half of `order`, then, both halves sorted, merges into
    // `scratch` one of two parts: the lower half's lines before its middle line with the
    // upper half's lines that sort before that line, and the rest. Lines equal to the
    // middle one on the upper side all go to the second part, behind the lower side's.
    quint32* const items = order.data();
    const size_t middle = count / 2;
    Meeting meeting;
    const auto sortAndMerge = [&](const QCollator& collator, bool lower) {
        Sorter sorter(lines, collator, m_stop, m_compared);
        try {
            if (lower)
                sorter.sort(items, scratch.data(), middle);
            else
                sorter.sort(items + middle, scratch.data() + middle, count - middle);
        } catch (...) {
            meeting.arrive(false); // the other thread waits there
            throw;
        }
        if (!meeting.arrive(true))
            return;
        const quint32* const lowerCut = items + middle / 2;
        const quint32* const upperCut = sorter.lowerBound(items + middle, items + count, *lowerCut);
        if (lower)
            sorter.merge(items, lowerCut, items + middle, upperCut, scratch.data());
        else
            sorter.merge(lowerCut, items + middle, upperCut, items + count,
                         scratch.data() + (lowerCut - items) + (upperCut - (items + middle)));
    };

    std::exception_ptr lowerFailure;
    std::exception_ptr upperFailure;
    std::thread lowerHalf;
    try {
        acquiring(SortResource::Thread);
        lowerHalf = std::thread([&] {
            try {
                sortAndMerge(second, true);
            } catch (...) {
                lowerFailure = std::current_exception();
            }
        });
    } catch (const std::exception&) {
        // Without a second thread, this one sorts it all.
        Sorter(lines, m_collator, m_stop, m_compared).sort(items, scratch.data(), count);
        finished();
        return order;
    }
    try {
        sortAndMerge(m_collator, false);
    } catch (...) {
        upperFailure = std::current_exception();
    }
    lowerHalf.join();
    for (const std::exception_ptr& failure : {lowerFailure, upperFailure})
        if (failure)
            std::rethrow_exception(failure);
    finished();
    return scratch;
}

} // namespace varnel
