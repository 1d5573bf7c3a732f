#include "sortedarrangement.h"

#include "order/collation.h"

#include <QCollator>

#include <algorithm>
#include <utility>

namespace varnel {

SortedArrangement::SortedArrangement() = default;

SortedArrangement::~SortedArrangement() = default;

const QCollator& SortedArrangement::collator() const {
    if (!m_collator)
        m_collator = std::make_unique<QCollator>(makeCorrectOrderCollator());
    return *m_collator;
}

double SortedArrangement::progress() const {
    return m_running ? m_running->progress() : 0.0;
}

SortOrder SortedArrangement::order(const ListLines& lines, const LineEntries& entries) const {
    const LineStorage& storage = lines.storage();
    return order(entries.size(), [&](quint32 i) { return storage.text(entries.line(i)); });
}

size_t SortedArrangement::placeOf(LineText text, const ListLines& lines) const {
    CollatedComparison compare(collator());
    const LineStorage& storage = lines.storage();
    // After every equal line, so equal lines keep their arrival order.
    const std::vector<StoredLine>& listed = lines.entries().lines();
    const auto at = std::upper_bound(listed.begin(), listed.end(), text,
                                     [&storage, &compare](const LineText& a, StoredLine b) {
                                         return compare(a, storage.text(b)) < 0;
                                     });
    return size_t(at - listed.begin());
}

LineEntries SortedArrangement::merged(const ListLines& lines, const LineEntries& added) const {
    CollatedComparison compare(collator());
    acquiring(SortResource::Memory);
    const LineEntries& listed = lines.entries();
    const LineStorage& storage = lines.storage();
    const size_t total = listed.size() + added.size();
    const bool linked = listed.hasLinks() || added.hasLinks();
    std::vector<StoredLine> merged;
    std::vector<quint32> links;
    merged.reserve(total);
    if (linked)
        links.reserve(total);
    const auto take = [&](const LineEntries& from, size_t& row) {
        merged.push_back(from.line(row));
        if (linked)
            links.push_back(from.link(row));
        ++row;
    };
    size_t fromListed = 0;
    size_t fromAdded = 0;
    while (fromListed < listed.size() && fromAdded < added.size()) {
        if (compare(storage.text(listed.line(fromListed)), storage.text(added.line(fromAdded))) > 0)
            take(added, fromAdded);
        else
            take(listed, fromListed);
    }
    while (fromListed < listed.size())
        take(listed, fromListed);
    while (fromAdded < added.size())
        take(added, fromAdded);
    return LineEntries(std::move(merged), std::move(links));
}

} // namespace varnel
