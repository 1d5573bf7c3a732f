#include "blockorder.h"

#include "order/linesort.h"

#include <QCollator>

#include <algorithm>
#include <utility>

namespace varnel {

namespace {

struct BlockComparison {
    BlockComparison(const SortedBlock& block, const LineOrder& given, bool givenUnique)
        : order(block.orderOver(given))
        , unique(givenUnique || block.unique)
        , collator(makeCollator(order))
        , compare(order, collator) {}

    const LineOrder order;
    const bool unique;
    const QCollator collator;
    LineComparison compare;
};

// Puts a group's items in their sorted order from the group's first line on.
void arrangeGroup(const BlockLines& lines, const BlockGroup& group, BlockComparison& block,
                  BlockArrangement& into) {
    const QList<BlockItem>& items = group.items;
    LineSort sort(block.order);
    const SortOrder sorted = sort.order(
        size_t(items.size()), [&](quint32 i) { return LineText(comparedText(lines, items[i])); });
    std::vector<quint32> kept;
    for (const quint32 i : sorted)
        if (!block.unique || kept.empty() ||
            block.compare(comparedText(lines, items[kept.back()]), comparedText(lines, items[i])) !=
                0)
            kept.push_back(i);
    std::vector<PlacedLine>& placed = into.lines;
    qsizetype at = items.first().first;
    for (size_t k = 0; k < kept.size(); ++k) {
        const BlockItem& item = items[kept[k]];
        const bool hasComma = group.commas && kept[k] + 1 < quint32(items.size());
        const bool wantsComma = group.commas && k + 1 < kept.size();
        for (qsizetype line = item.first; line <= item.last; ++line) {
            const int comma = line == item.last ? int(wantsComma) - int(hasComma) : 0;
            into.changed = into.changed || placed[size_t(at)].line != line || comma != 0;
            placed[size_t(at++)] = {line, comma, line};
        }
    }
    for (; at <= items.last().last; ++at) {
        placed[size_t(at)].line = -1;
        into.changed = true;
    }
}

} // namespace

void findBlockFindings(const BlockLines& lines, const SortedBlocks& blocks, const LineOrder& given,
                       bool unique, const std::function<bool(const BlockFinding&)>& found) {
    for (const SortedBlock& block : blocks.blocks) {
        BlockComparison comparison(block, given, unique);
        for (const BlockGroup& group : block.groups) {
            for (qsizetype k = 0; k + 1 < group.items.size(); ++k) {
                const BlockItem& upper = group.items[k];
                const BlockItem& lower = group.items[k + 1];
                const int sign =
                    comparison.compare(comparedText(lines, upper), comparedText(lines, lower));
                if (sign < 0 || (sign == 0 && !comparison.unique))
                    continue;
                if (!found({sign == 0, &upper, &lower}))
                    return;
            }
        }
    }
}

BlockArrangement arrangeSortedBlocks(const BlockLines& lines, const SortedBlocks& blocks,
                                     const LineOrder& given, bool unique, bool lastHasBreak) {
    BlockArrangement arrangement;
    arrangement.lines.resize(size_t(lines.size()));
    for (size_t i = 0; i < arrangement.lines.size(); ++i)
        arrangement.lines[i] = {qsizetype(i), 0, qsizetype(i)};
    for (const SortedBlock& block : blocks.blocks) {
        BlockComparison comparison(block, given, unique);
        for (const BlockGroup& group : block.groups)
            arrangeGroup(lines, group, comparison, arrangement);
    }
    std::vector<PlacedLine>& placed = arrangement.lines;
    placed.erase(std::remove_if(placed.begin(), placed.end(),
                                [](const PlacedLine& p) { return p.line < 0; }),
                 placed.end());
    if (!lastHasBreak && !placed.empty()) {
        const qsizetype lastLine = lines.size() - 1;
        for (PlacedLine& p : placed)
            if (p.line == lastLine && &p != &placed.back())
                std::swap(p.breakOf, placed.back().breakOf);
    }
    return arrangement;
}

qsizetype commaPlace(QStringView line) {
    qsizetype end = line.size();
    while (end > 0 && (line[end - 1] == u' ' || line[end - 1] == u'\t'))
        --end;
    return end;
}

} // namespace varnel
