#pragma once

#include "lineorder.h"

#include <QtGlobal>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace varnel {

// What a sort asks for before it compares anything, and may not get.
enum class SortResource { Memory, Thread };

// A sort's result: entry i is the index of the line that goes i-th. It is written over the
// memory the sort's items took, so that the order costs nothing more than the sort did.
class SortOrder {
public:
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    quint32 operator[](size_t i) const { return m_data.get()[i]; }
    // The entries, to use up in place.
    quint32* data() { return m_data.get(); }
    const quint32* begin() const { return m_data.get(); }
    const quint32* end() const { return m_data.get() + m_size; }
    std::vector<quint32> toVector() const { return {begin(), end()}; }

private:
    friend class LineSort;
    struct Free {
        void operator()(quint32* data) const { std::free(data); }
    };
    std::unique_ptr<quint32, Free> m_data;
    size_t m_size = 0;
};

// Lines put in a LineOrder (by default the collation of "Show Correct Order"), lines it calls
// equal in the order they came. The sort gives the order as a permutation (entry i is the
// index of the line that goes i-th) and moves nothing, so whatever fails leaves the
// caller's lines as they were, and the caller arranges them once the order is in hand.
//
// A merge sort: comparisons (the collation) are nearly all of its cost, and a merge makes
// about as few of them as a sort can, fewer still on a list that is nearly in order already.
// Each line's sort key prefix is had once, first (from the collator in a locale's order, from
// the lowered text in the code order), and most comparisons are of prefixes. It takes 16.5 bytes a
// line while it runs: an item of sixteen, and room for a 32nd of them for the merges. Large inputs
// are sorted in two halves on two threads, each with a comparison (and a collator) of its own, and
// the halves merged on two threads again.
class LineSort {
public:
    struct Item;
    struct KeyedItem;

    // From this many lines on, two threads sort.
    static constexpr size_t TwoThreadSize = 20000;

    explicit LineSort(const LineOrder& order = {});
    LineSort(const LineSort&) = delete;
    LineSort& operator=(const LineSort&) = delete;

    // Once `*stop` is true the sort ends with ProgramEnding; it looks every few thousand
    // comparisons.
    void setStopFlag(const std::atomic<bool>* stop) { m_stop = stop; }
    // A test hook, run before each request for memory or a thread; it may throw as the
    // request would (std::bad_alloc, std::system_error).
    void setBeforeAcquiring(std::function<void(SortResource)> hook) {
        m_beforeAcquiring = std::move(hook);
    }

    // The order of `count` lines, `textOf(i)` giving line i's text; `textOf` is called from
    // two threads at once, so it only reads. Throws std::bad_alloc before comparing anything
    // when the memory for the order is not there; without a second thread, sorts on this
    // one.
    template <typename TextOf> SortOrder order(size_t count, const TextOf& textOf) {
        return orderOf(count, {&textOf, [](const void* f, quint32 i) -> LineText {
                                   return (*static_cast<const TextOf*>(f))(i);
                               }});
    }

    // How far the running sort is, from 0 to 1; any thread may ask.
    double progress() const;

private:
    // `textOf` without the cost of a std::function on every comparison.
    struct Lines {
        const void* context;
        LineText (*at)(const void*, quint32);
        LineText operator()(quint32 i) const { return at(context, i); }
    };
    template <typename SortItem> class Sorter;

    SortOrder orderOf(size_t count, Lines lines);
    template <typename SortItem> SortOrder orderWith(size_t count, Lines lines);
    void acquiring(SortResource what) const {
        if (m_beforeAcquiring)
            m_beforeAcquiring(what);
    }

    const LineOrder m_order;
    const QCollator m_collator;
    const std::atomic<bool>* m_stop = nullptr;
    std::function<void(SortResource)> m_beforeAcquiring;
    std::atomic<quint64> m_compared = 0;
    std::atomic<quint64> m_expected = 0;
};

// A collator of the same settings as `collator` that shares nothing with it, for another
// thread: one collator must not compare on two threads at once.
QCollator independentCollator(const QCollator& collator);

} // namespace varnel
