#include "linesort.h"

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

// A line as the sort moves it: where its text is, so a comparison reads the text without
// first looking the line up (a wait on memory that costs as much as the collation), and
// which line it is.
struct LineSort::Item {
    static constexpr quint32 LongLine = 0x7FFFFFFF;

    const void* data;
    quint32 size : 31; // LongLine: the text is had from the caller
    quint32 wide : 1;
    quint32 index;
};

// The merge sort on one thread, with that thread's comparison.
class LineSort::Sorter {
public:
    Sorter(Lines lines, const LineOrder& order, const QCollator& collator,
           const std::atomic<bool>* stop, std::atomic<quint64>& compared)
        : m_lines(lines)
        , m_compare(order, collator)
        , m_stop(stop)
        , m_compared(compared) {}

    // Sorts `count` items in place, with room for half as many at `buffer`.
    void sort(Item* items, size_t count, Item* buffer) {
        if (count < 2)
            return;
        const size_t half = count / 2;
        sort(items, half, buffer);
        sort(items + half, count - half, buffer);
        merge(items, items + half, items + count, buffer);
    }

    // Merges the sorted runs [first, middle) and [middle, last) in place, with room for the
    // first run at `buffer`; on equal lines the first run's come first.
    void merge(Item* first, Item* middle, Item* last, Item* buffer) {
        if (first == middle || middle == last || !after(middle[-1], *middle))
            return;
        const Item* left = buffer;
        const Item* const leftEnd = std::copy(first, middle, buffer);
        const Item* right = middle;
        Item* out = first;
        // With one item on the left, that comparison was the merge's first one.
        if (leftEnd - left == 1)
            *out++ = *right++;
        // The left line is the comparison's first, so a line that stays for several
        // comparisons in a row is widened once (see CollatedComparison).
        while (left != leftEnd && right != last)
            *out++ = after(*left, *right) ? *right++ : *left++;
        // What is left of the right run is in its place already.
        std::copy(left, leftEnd, out);
    }

    // The first of the sorted items in [first, last) whose line does not sort before `key`.
    Item* lowerBound(Item* first, Item* last, const Item& key) {
        return std::partition_point(first, last,
                                    [&](const Item& item) { return after(key, item); });
    }

private:
    static constexpr unsigned PollEvery = 4096;

    LineText text(const Item& item) const {
        if (item.size == Item::LongLine)
            return m_lines(item.index);
        if (item.wide)
            return QStringView(static_cast<const char16_t*>(item.data), qsizetype(item.size));
        return QLatin1StringView(static_cast<const char*>(item.data), qsizetype(item.size));
    }
    bool after(const Item& a, const Item& b) {
        if (++m_sincePoll == PollEvery)
            poll();
        return m_compare(text(a), text(b)) > 0;
    }
    void poll() {
        m_compared.fetch_add(m_sincePoll, std::memory_order_relaxed);
        m_sincePoll = 0;
        if (m_stop && m_stop->load(std::memory_order_relaxed))
            throw ProgramEnding{};
    }

    Lines m_lines;
    LineComparison m_compare;
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

LineSort::LineSort(const LineOrder& order)
    : m_order(order)
    , m_collator(makeCollator(order)) {}

double LineSort::progress() const {
    const quint64 expected = m_expected.load(std::memory_order_relaxed);
    if (expected == 0)
        return 0;
    return std::min(1.0, double(m_compared.load(std::memory_order_relaxed)) / double(expected));
}

std::vector<quint32> LineSort::orderOf(size_t count, Lines lines) {
    if (count > std::numeric_limits<quint32>::max())
        throw std::bad_alloc();
    m_compared = 0;
    // A merge sort compares at most about n log2 n times.
    m_expected = std::max<quint64>(1, quint64(count) * quint64(std::bit_width(count)));
    acquiring(SortResource::Memory);
    std::vector<Item> items(count);
    std::vector<Item> buffer(count / 2 + 1);
    std::vector<quint32> order(count);
    for (size_t i = 0; i < count; ++i) {
        const LineText text = lines(quint32(i));
        const bool fits = text.size() < qsizetype(Item::LongLine);
        items[i] = {text.bytes(), fits ? quint32(text.size()) : Item::LongLine, text.isWide(),
                    quint32(i)};
    }
    const auto finished = [&] {
        m_compared = m_expected.load();
        std::transform(items.begin(), items.end(), order.begin(),
                       [](const Item& item) { return item.index; });
        return std::move(order);
    };

    if (count < TwoThreadSize) {
        Sorter(lines, m_order, m_collator, m_stop, m_compared)
            .sort(items.data(), count, buffer.data());
        return finished();
    }
    acquiring(SortResource::Memory);
    QCollator second = independentCollator(m_collator);

    // Each thread sorts its half, each with its own part of the buffer. Then the lower half's
    // lines before its middle line, with the upper half's lines that sort before that line,
    // are brought together and merged on one thread, the rest on the other. Lines equal to
    // the middle one on the upper side all go to the second part, behind the lower side's.
    Item* const all = items.data();
    const size_t middle = count / 2;
    const size_t lowerCut = middle / 2;
    size_t firstPartEnd = 0;
    Meeting sorted;
    Meeting cut;
    const auto sortAndMerge = [&](const QCollator& collator, bool lower) {
        Sorter sorter(lines, m_order, collator, m_stop, m_compared);
        try {
            if (lower)
                sorter.sort(all, middle, buffer.data());
            else
                sorter.sort(all + middle, count - middle, buffer.data() + lowerCut);
        } catch (...) {
            // The other thread waits for this one at both meetings.
            sorted.arrive(false);
            cut.arrive(false);
            throw;
        }
        if (!sorted.arrive(true)) {
            cut.arrive(false);
            return;
        }
        if (!lower) {
            try {
                const Item key = all[lowerCut];
                Item* const upperCut = sorter.lowerBound(all + middle, all + count, key);
                std::rotate(all + lowerCut, all + middle, upperCut);
                firstPartEnd = lowerCut + size_t(upperCut - (all + middle));
            } catch (...) {
                cut.arrive(false);
                throw;
            }
        }
        if (!cut.arrive(true))
            return;
        if (lower)
            sorter.merge(all, all + lowerCut, all + firstPartEnd, buffer.data());
        else
            sorter.merge(all + firstPartEnd, all + firstPartEnd + (middle - lowerCut), all + count,
                         buffer.data() + lowerCut);
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
        Sorter(lines, m_order, m_collator, m_stop, m_compared).sort(all, count, buffer.data());
        return finished();
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
    return finished();
}

} // namespace varnel
