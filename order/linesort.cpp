#include "linesort.h"

#include "collation.h"
#include "collationkeys.h"
#include "core/failure.h"
#include "core/sidethread.h"
#include "linesortsafter.h"

#include <QCollator>

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <numeric>
#include <type_traits>
#include <utility>

namespace varnel {

QCollator independentCollator(const QCollator& collator) {
    // A copy of a QCollator shares its ICU collator; one made afresh does not.
    QCollator own(collator.locale());
    own.setCaseSensitivity(collator.caseSensitivity());
    own.setNumericMode(collator.numericMode());
    own.setIgnorePunctuation(collator.ignorePunctuation());
    return own;
}

// A line as the sort moves it in the numeric order: where its text is, so a comparison reads
// the text without first looking the line up (a wait on memory that costs as much as the
// comparison), and which line it is.
struct LineSort::Item {
    static constexpr quint32 LongLine = 0x7FFFFFFF;

    const void* data;
    quint32 size : 31; // LongLine: the text is had from the caller
    quint32 wide : 1;
    quint32 index;
};

// A line as the sort moves it in the other orders: its sort key prefix, which decides most
// comparisons without the collation or the lowering of the lines, and which line it is. The text is
// looked up only when two prefixes are equal. (Eight bytes of prefix tie on more than half the
// neighbouring lines of a typical list, twelve on a few in a hundred.)
struct LineSort::KeyedItem {
    quint64 high;
    quint32 low;
    quint32 index;
};

namespace {

static_assert(sizeof(LineSort::Item) == 16 && sizeof(LineSort::KeyedItem) == 16);

constexpr unsigned PollEvery = 4096;

} // namespace

// The merge sort on one thread, with that thread's comparison.
template <typename SortItem> class LineSort::Sorter {
public:
    Sorter(Lines lines, const LineOrder& order, const QCollator& collator,
           const std::atomic<bool>* stop, std::atomic<quint64>& compared)
        : m_lines(lines)
        , m_compare(order, collator)
        , m_stop(stop)
        , m_compared(compared) {}

    // Gives `count` items from line `first` on their sort key prefixes, before any is sorted:
    // the collator's in a locale's order, the lowered text's in the code order.
    void makeKeys(KeyedItem* items, quint32 first, size_t count, const QCollator& collator,
                  LineOrder::Rule rule) {
        if (rule == LineOrder::Rule::Code) {
            makeKeys(items, first, count, [](LineText text) {
                const LoweredPrefix prefix = loweredPrefixOf(text);
                return std::pair(prefix.high, prefix.low);
            });
            return;
        }
        CollationKeys keys(collator);
        makeKeys(items, first, count, [&keys](LineText text) {
            const CollationPrefix prefix = keys.prefixOf(text);
            return std::pair(prefix.high, prefix.low);
        });
    }

    // Sorts `count` items in place, with room for `room` items (at least one) at `buffer`.
    void sort(SortItem* items, size_t count, SortItem* buffer, size_t room) {
        if (count < 2)
            return;
        const size_t half = count / 2;
        sort(items, half, buffer, room);
        sort(items + half, count - half, buffer, room);
        merge(items, items + half, items + count, buffer, room);
    }

    // Merges the sorted runs [first, middle) and [middle, last) in place, with room for
    // `room` items at `buffer`; on equal lines the first run's come first.
    void merge(SortItem* first, SortItem* middle, SortItem* last, SortItem* buffer, size_t room) {
        if (first == middle || middle == last || !after(middle[-1], *middle))
            return;
        if (size_t(middle - first) > room) {
            // The first run's upper half goes behind the second run's lines that sort
            // before that half's first line; then each part is merged on its own. Lines
            // equal to that first line stay behind it, as they came.
            SortItem* const cut = first + (middle - first) / 2;
            SortItem* const secondCut = lowerBound(middle, last, *cut);
            SortItem* const newMiddle = std::rotate(cut, middle, secondCut);
            merge(first, cut, newMiddle, buffer, room);
            merge(newMiddle, newMiddle + (middle - cut), last, buffer, room);
            return;
        }
        const SortItem* left = buffer;
        const SortItem* const leftEnd = std::copy(first, middle, buffer);
        const SortItem* right = middle;
        SortItem* out = first;
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
    SortItem* lowerBound(SortItem* first, SortItem* last, const SortItem& key) {
        return std::partition_point(first, last,
                                    [&](const SortItem& item) { return after(key, item); });
    }

private:
    template <typename PrefixOf>
    void makeKeys(KeyedItem* items, quint32 first, size_t count, const PrefixOf& prefixOf) {
        for (size_t i = 0; i < count; ++i) {
            if (++m_sincePoll == PollEvery)
                poll();
            const quint32 index = first + quint32(i);
            const auto [high, low] = prefixOf(m_lines(index));
            items[i] = {high, low, index};
        }
    }

    LineText text(const SortItem& item) const {
        if (item.size == Item::LongLine)
            return m_lines(item.index);
        if (item.wide)
            return QStringView(static_cast<const char16_t*>(item.data), qsizetype(item.size));
        return QLatin1StringView(static_cast<const char*>(item.data), qsizetype(item.size));
    }
    bool after(const SortItem& a, const SortItem& b) {
        if (++m_sincePoll == PollEvery)
            poll();
        if constexpr (std::is_same_v<SortItem, KeyedItem>) {
            if (a.high != b.high)
                return a.high > b.high;
            if (a.low != b.low)
                return a.low > b.low;
            return m_compare(m_lines(a.index), m_lines(b.index)) > 0;
        } else {
            return m_compare(text(a), text(b)) > 0;
        }
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

SortOrder LineSort::orderOf(size_t count, Lines lines) {
    if (count > std::numeric_limits<quint32>::max())
        throw std::bad_alloc();
    // Prefixes decide most comparisons without the lines, which lie all over memory; the
    // numbers of the numeric order have none.
    if (m_order.rule == LineOrder::Rule::Locale || !m_order.numeric)
        return orderWith<KeyedItem>(count, lines);
    return orderWith<Item>(count, lines);
}

template <typename SortItem> SortOrder LineSort::orderWith(size_t count, Lines lines) {
    constexpr bool Keyed = std::is_same_v<SortItem, KeyedItem>;
    m_compared = 0;
    // A merge sort compares at most about n log2 n times, after a key a line.
    m_expected = std::max<quint64>(1, quint64(count) * quint64(std::bit_width(count)) +
                                          (Keyed ? quint64(count) : 0));
    acquiring(SortResource::Memory);
    // The items take a block the order is written over at the end, four bytes of every
    // sixteen, and which then shrinks to it.
    SortOrder order;
    static_assert(alignof(SortItem) <= alignof(std::max_align_t));
    if (count > 0) {
        order.m_data.reset(static_cast<quint32*>(std::malloc(count * sizeof(SortItem))));
        if (!order.m_data)
            throw std::bad_alloc();
    }
    SortItem* const all = reinterpret_cast<SortItem*>(order.m_data.get());
    // Room for a 32nd of the items: longer runs are cut before they are merged. Half a byte
    // a line where half the items would take eight; the cuts cost a few moves of each item,
    // which the comparisons outweigh many times over.
    const size_t room = count / 32 + 2;
    std::vector<SortItem> buffer(room);
    if constexpr (!Keyed) {
        for (size_t i = 0; i < count; ++i) {
            const LineText text = lines(quint32(i));
            const bool fits = text.size() < qsizetype(Item::LongLine);
            all[i] = {text.bytes(), fits ? quint32(text.size()) : Item::LongLine, text.isWide(),
                      quint32(i)};
        }
    }
    const auto finished = [&] {
        m_compared = m_expected.load();
        std::vector<SortItem>().swap(buffer);
        // Index i goes to bytes 4i on, past which every item up to i has been read.
        auto* const bytes = reinterpret_cast<unsigned char*>(all);
        for (size_t i = 0; i < count; ++i) {
            const quint32 index = all[i].index;
            std::memcpy(bytes + i * sizeof(quint32), &index, sizeof index);
        }
        order.m_size = count;
        if (count > 0) {
            quint32* const block = order.m_data.release();
            void* const smaller = std::realloc(block, count * sizeof(quint32));
            order.m_data.reset(smaller ? static_cast<quint32*>(smaller) : block);
        }
        return std::move(order);
    };
    // The keys of the lines [first, first + n), on the thread that sorts them.
    const auto makeKeys = [&](Sorter<SortItem>& sorter, size_t first, size_t n,
                              const QCollator& collator) {
        if constexpr (Keyed)
            sorter.makeKeys(all + first, quint32(first), n, collator, m_order.rule);
    };
    const auto sortAlone = [&] {
        Sorter<SortItem> sorter(lines, m_order, m_collator, m_stop, m_compared);
        makeKeys(sorter, 0, count, m_collator);
        sorter.sort(all, count, buffer.data(), room);
        return finished();
    };

    if (count < TwoThreadSize)
        return sortAlone();
    acquiring(SortResource::Memory);
    QCollator second = independentCollator(m_collator);

    // Each thread sorts its half, each with its own part of the buffer. Then the lower half's
    // lines before its middle line, with the upper half's lines that sort before that line,
    // are brought together and merged on one thread, the rest on the other. Lines equal to
    // the middle one on the upper side all go to the second part, behind the lower side's.
    const size_t middle = count / 2;
    const size_t lowerRoom = room / 2;
    const size_t lowerCut = middle / 2;
    size_t firstPartEnd = 0;
    Meeting sorted;
    Meeting cut;
    const auto sortAndMerge = [&](const QCollator& collator, bool lower) {
        Sorter<SortItem> sorter(lines, m_order, collator, m_stop, m_compared);
        try {
            if (lower) {
                makeKeys(sorter, 0, middle, collator);
                sorter.sort(all, middle, buffer.data(), lowerRoom);
            } else {
                makeKeys(sorter, middle, count - middle, collator);
                sorter.sort(all + middle, count - middle, buffer.data() + lowerRoom,
                            room - lowerRoom);
            }
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
                const SortItem key = all[lowerCut];
                SortItem* const upperCut = sorter.lowerBound(all + middle, all + count, key);
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
            sorter.merge(all, all + lowerCut, all + firstPartEnd, buffer.data(), lowerRoom);
        else
            sorter.merge(all + firstPartEnd, all + firstPartEnd + (middle - lowerCut), all + count,
                         buffer.data() + lowerRoom, room - lowerRoom);
    };

    std::exception_ptr lowerFailure;
    std::exception_ptr upperFailure;
    SideThread lowerHalf;
    try {
        acquiring(SortResource::Thread);
        lowerHalf = SideThread([&] {
            try {
                sortAndMerge(second, true);
            } catch (...) {
                lowerFailure = std::current_exception();
            }
        });
    } catch (const std::exception&) {
        // Without a second thread, this one sorts it all.
        return sortAlone();
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
