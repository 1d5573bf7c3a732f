#include "lineorder.h"

namespace varnel {

QCollator makeCollator(const LineOrder& order) {
    QCollator collator = makeCorrectOrderCollator();
    collator.setNumericMode(order.rule == LineOrder::Rule::Locale && order.numeric);
    return collator;
}

} // namespace varnel
