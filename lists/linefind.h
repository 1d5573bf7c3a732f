#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace varnel {

class ListSnapshot;

// Told, after each line looked at, how many have been; it may yield, and throw to stop the
// search.
using FindStep = std::function<void(qsizetype looked)>;

// The next line of `list` after `from` (before it, when not `forward`) that holds `text`,
// letter case aside, going round past either end; `from` itself comes last. Positions
// count from 1; `from` 0 starts before the first line (after the last, backwards). None
// when no line holds it or `text` is empty.
std::optional<qsizetype> findLine(const ListSnapshot& list, const QString& text, qsizetype from,
                                  bool forward, const FindStep& step = {});

} // namespace varnel
