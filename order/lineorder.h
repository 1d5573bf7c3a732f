#pragma once

#include "collation.h"
#include "linesortsafter.h"
#include "numericorder.h"

#include <QCollator>

namespace varnel {

// Which order lines are put in and checked against. Code is the order of "Start Extracting
// Lines" (lower-cased, by code); Locale the collation of "Show Correct Order". Numeric reads
// runs of digits as numbers: by value in the code order, in the collator's numeric mode in
// the locale's.
struct LineOrder {
    enum class Rule { Code, Locale };
    Rule rule = Rule::Locale;
    bool numeric = false;
};

// The collator of a locale order, for the locale the environment names.
QCollator makeCollator(const LineOrder& order);

// Two lines compared in an order: below 0 when the first comes first, 0 when the order
// calls them equal. One object a thread: a locale comparison widens one-byte lines into
// buffers of its own, and reads `collator`, which no other thread may use meanwhile.
class LineComparison {
public:
    LineComparison(const LineOrder& order, const QCollator& collator)
        : m_order(order)
        , m_collated(collator) {}
    LineComparison(const LineComparison&) = delete;
    LineComparison& operator=(const LineComparison&) = delete;

    int operator()(LineText a, LineText b) {
        if (m_order.rule == LineOrder::Rule::Locale)
            return m_collated(a, b);
        return m_order.numeric ? compareLoweredNumeric(a, b) : compareLowered(a, b);
    }

private:
    const LineOrder m_order;
    CollatedComparison m_collated;
};

} // namespace varnel
