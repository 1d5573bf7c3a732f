#include "ordermarks.h"

#include "linelistmodel.h"
#include "order/linesortsafter.h"

#include <QElapsedTimer>

#include <algorithm>
#include <bit>

namespace varnel {

namespace {

// Lines added are looked at in slices of about this long, the window turning between.
constexpr qint64 SliceMilliseconds = 20;

} // namespace

OrderMarks::OrderMarks(LineListModel& list, QObject* parent)
    : QObject(parent)
    , m_list(list) {
    m_onward.setInterval(0);
    connect(&m_onward, &QTimer::timeout, this, &OrderMarks::lookOnward);
    connect(&list, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                insertBits(first, last - first + 1);
                // The pair above the new lines changed too.
                lookFrom(std::max(0, first - 1), last);
            });
    connect(&list, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                removeBits(first, last - first + 1);
                lookFrom(std::max(0, first - 1), first - 1);
            });
    connect(&list, &LineListModel::itemsExchanged, this, [this](qsizetype a, qsizetype b) {
        for (qsizetype line : {a, b}) {
            look(line - 2);
            look(line - 1);
        }
        emit changed();
    });
    connect(&list, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) {
                if (first.isValid() && last.isValid())
                    lookFrom(std::max(0, first.row() - 1), last.row());
            });
    connect(&list, &QAbstractItemModel::modelReset, this, &OrderMarks::restart);
    connect(&list, &QAbstractItemModel::layoutChanged, this, &OrderMarks::restart);
    restart();
}

void OrderMarks::setBit(qsizetype i, bool on) {
    const quint64 mask = quint64(1) << (i & 63);
    quint64& word = m_bits[size_t(i >> 6)];
    word = on ? word | mask : word & ~mask;
}

void OrderMarks::look(qsizetype i) {
    if (i < 0 || i >= m_count || i >= m_known)
        return;
    setBit(i, i + 1 < m_count && lineSortsAfter(m_list.textView(i + 1), m_list.textView(i + 2)));
}

void OrderMarks::lookFrom(qsizetype first, qsizetype last) {
    // A few lines now; more are left to the slices.
    if (last - first < 4096) {
        for (qsizetype i = first; i <= last; ++i)
            look(i);
    } else if (first < m_known) {
        m_known = first;
    }
    if (!isSettled() && !m_paused)
        m_onward.start();
    emit changed();
}

void OrderMarks::resize(qsizetype count) {
    m_count = count;
    m_bits.resize(size_t((count + 63) / 64));
    // Bits past the end stay clear, so a whole word can be tested.
    if (count % 64 != 0 && !m_bits.empty())
        m_bits.back() &= (quint64(1) << (count % 64)) - 1;
}

void OrderMarks::insertBits(qsizetype at, qsizetype count) {
    const qsizetype old = m_count;
    resize(old + count);
    // Shift the bits from `at` on by `count`, from the end down: a word at a time down to
    // the word `at` is in, then bit by bit.
    qsizetype i = old + count - 1;
    for (; i >= at + count && (i & 63) != 63; --i)
        setBit(i, bit(i - count));
    for (; i - 63 >= at + count; i -= 64)
        m_bits[size_t(i >> 6)] = wordAt(i - 63 - count);
    for (; i >= at + count; --i)
        setBit(i, bit(i - count));
    // The new lines' bits are cleared a word at a time between their first and last words:
    // a load of ten million lines would otherwise clear them one by one.
    qsizetype j = at;
    for (; j < at + count && (j & 63) != 0; ++j)
        setBit(j, false);
    for (; j + 64 <= at + count; j += 64)
        m_bits[size_t(j >> 6)] = 0;
    for (; j < at + count; ++j)
        setBit(j, false);
    // Known up to the new lines: they are looked at right after, or known no more.
    if (m_known >= at)
        m_known += count;
}

quint64 OrderMarks::wordAt(qsizetype i) const {
    const auto word = size_t(i >> 6);
    const int shift = int(i & 63);
    quint64 bits = m_bits[word] >> shift;
    if (shift != 0 && word + 1 < m_bits.size())
        bits |= m_bits[word + 1] << (64 - shift);
    return bits;
}

void OrderMarks::removeBits(qsizetype at, qsizetype count) {
    // Bit by bit up to a word's start, then a word at a time: a line removed at the top of
    // ten million moves 156,250 words, not ten million bits.
    qsizetype i = at;
    for (; i + count < m_count && (i & 63) != 0; ++i)
        setBit(i, bit(i + count));
    for (; i + count < m_count; i += 64)
        m_bits[size_t(i >> 6)] = wordAt(i + count);
    if (m_known > at)
        m_known = std::max(at, m_known - count);
    resize(m_count - count);
}

void OrderMarks::restart() {
    m_bits.clear();
    resize(m_list.count());
    m_known = 0;
    if (!isSettled() && !m_paused)
        m_onward.start();
    emit changed();
}

void OrderMarks::setPaused(bool paused) {
    m_paused = paused;
    if (paused)
        m_onward.stop();
    else if (!isSettled())
        m_onward.start();
}

void OrderMarks::lookOnward() {
    QElapsedTimer slice;
    slice.start();
    while (!isSettled()) {
        const qsizetype end = std::min(m_count, m_known + 4096);
        for (qsizetype i = m_known; i < end; ++i) {
            m_known = i + 1;
            look(i);
        }
        if (slice.elapsed() >= SliceMilliseconds)
            break;
    }
    if (isSettled())
        m_onward.stop();
    emit changed();
}

void OrderMarks::settle() {
    while (!isSettled())
        lookOnward();
}

std::pair<qsizetype, qsizetype> OrderMarks::rangeOf(int part, int parts) const {
    return {m_count * part / parts, m_count * (part + 1) / parts};
}

std::optional<qsizetype> OrderMarks::firstSet(qsizetype from, qsizetype to) const {
    qsizetype i = from;
    while (i < to) {
        const quint64 word = m_bits[size_t(i >> 6)] >> (i & 63);
        if (word != 0) {
            const qsizetype at = i + qsizetype(std::countr_zero(word));
            return at < to ? std::optional<qsizetype>(at) : std::nullopt;
        }
        i = (i | 63) + 1;
    }
    return std::nullopt;
}

std::vector<bool> OrderMarks::parts(int parts) const {
    std::vector<bool> marked(size_t(std::max(parts, 0)), false);
    for (int part = 0; part < parts; ++part) {
        const auto [from, to] = rangeOf(part, parts);
        marked[size_t(part)] = firstSet(from, to).has_value();
    }
    return marked;
}

std::vector<std::pair<qsizetype, qsizetype>> OrderMarks::counts(int parts) const {
    std::vector<std::pair<qsizetype, qsizetype>> counted;
    counted.reserve(size_t(std::max(parts, 0)));
    for (int part = 0; part < parts; ++part) {
        const auto [from, to] = rangeOf(part, parts);
        qsizetype set = 0;
        qsizetype i = from;
        for (; i < to && (i & 63) != 0; ++i)
            set += bit(i);
        for (; i + 64 <= to; i += 64)
            set += std::popcount(m_bits[size_t(i >> 6)]);
        for (; i < to; ++i)
            set += bit(i);
        counted.emplace_back(to - from, set);
    }
    return counted;
}

std::optional<qsizetype> OrderMarks::firstIn(int part, int parts) const {
    if (part < 0 || part >= parts)
        return std::nullopt;
    const auto [from, to] = rangeOf(part, parts);
    const std::optional<qsizetype> at = firstSet(from, to);
    return at ? std::optional<qsizetype>(*at + 1) : std::nullopt;
}

} // namespace varnel
